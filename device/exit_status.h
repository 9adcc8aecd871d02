// The exit statuses of the qx480 tool, one per kind of outcome, so that a
// script can tell a missing port from a silent or a refusing device. They sit
// beside the status table, which gives each outcome of a call its exit status.
#pragma once

namespace qx480 {

constexpr int EXIT_OK = 0;
// Standard output, the file of save or the port list could not be written or
// read; the panel's address could not be served.
constexpr int EXIT_LOCAL = 1;
// Bad arguments, a bad setup file, no port named.
constexpr int EXIT_USAGE = 2;
// The port could not be opened.
constexpr int EXIT_OPEN = 3;
// No valid answer: none, a corrupted one, the port failed, an echo.
constexpr int EXIT_NO_ANSWER = 4;
// The device refused a request.
constexpr int EXIT_REFUSED = 5;
// A read-back differs from what was set or from the setup file.
constexpr int EXIT_MISMATCH = 6;

}  // namespace qx480
