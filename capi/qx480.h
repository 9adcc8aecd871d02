/**
 * \file
 * The C interface of the qx480 library: the QX480DDG delay and pulse
 * generator from C, or from anything that calls C (LabVIEW, MATLAB, C#,
 * Python's ctypes, Rust).
 *
 * A device is an opaque handle that qx480_open gives and qx480_close takes.
 * Every other call returns a status: QX480_OK (0) or a negative QX480_ERR_
 * code, never anything else, and on a failure writes nothing through its
 * output pointers. Nothing crosses this interface but fixed-width integers,
 * double, float, const char* and the structs below, and no C++ exception
 * escapes it.
 *
 * Every command and query is one request to the device and one answer,
 * written within 1000 ms and answered within 1000 ms more (a receive may run
 * up to 100 ms past its limit, the last read's own). QX480_OK means the
 * device answered this request and accepted it. When a command fails after
 * its request went out, whether the device applied it is not known: read it
 * back with qx480_read_timing. The protocol carries no sequence number, so a
 * late answer to an earlier request of the same command cannot be told from
 * the answer to this one.
 *
 * Threads: calls on one handle are serialized by the handle, so several
 * threads may share it; different handles are independent. There is no
 * global state. qx480_close must not race with other calls on its handle.
 */
#ifndef QX480_H
#define QX480_H

#include <stdint.h>

#include "qx480_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/** A device: an opaque handle that qx480_open gives and qx480_close takes. */
typedef struct qx480_device qx480_device;

/** Status codes: 0 is success, errors are negative; values never change or get reused. */
#define QX480_OK 0
#define QX480_ERR_ARGUMENT (-1)      /**< an argument was refused; nothing was sent */
#define QX480_ERR_NOT_OPEN (-2)      /**< the device's port is not open */
#define QX480_ERR_NO_PORT (-3)       /**< open: no such port */
#define QX480_ERR_PORT_BUSY (-4)     /**< open: held by another program */
#define QX480_ERR_PERMISSION (-5)    /**< open: not allowed */
#define QX480_ERR_NOT_SERIAL (-6)    /**< open: not a serial port */
#define QX480_ERR_SETTINGS (-7)      /**< open: the port refused the line settings or baud rate */
#define QX480_ERR_WRITE (-8)         /**< the request was not written in full */
#define QX480_ERR_NO_ANSWER (-9)     /**< no answer within the limit */
#define QX480_ERR_BAD_ANSWER (-10)   /**< corrupted or incomplete frame */
#define QX480_ERR_PORT (-11)         /**< the port failed: hang-up, unplugged adapter */
#define QX480_ERR_REFUSED (-12)      /**< the device answered no */
#define QX480_ERR_SHORT_ANSWER (-13) /**< a query's answer was too short for it */
#define QX480_ERR_ECHO (-14)         /**< a query came back as its own request: a loopback or a local echo */
#define QX480_ERR_MEMORY (-15)       /**< out of memory */
#define QX480_ERR_INTERNAL (-16) /**< open: the system refused for another reason; or anything else; never a crash */
/* Opening socket://HOST:PORT or rfc2217://HOST:PORT: */
#define QX480_ERR_UNKNOWN_HOST (-17)       /**< the host name is not known */
#define QX480_ERR_CONNECTION_REFUSED (-18) /**< nothing listens on that port of the host */
#define QX480_ERR_NO_CONNECTION (-19)      /**< the host did not answer within 3 s, or cannot be reached */
#define QX480_ERR_SERVER_CLOSED (-20)      /**< the server closed the connection: its port in use, its device failed */
#define QX480_ERR_NEGOTIATION (-21)        /**< rfc2217: no answer to, or refusal of, the telnet negotiation */

#define QX480_TRIGGER_INTERNAL 0 /**< trigger source: the internal rate generator */
#define QX480_TRIGGER_EXTERNAL 1 /**< trigger source: the external input */
#define QX480_TRIGGER_SOFTWARE 2 /**< trigger source: qx480_fire */

#define QX480_CHANNEL_COUNT 8 /**< channels are numbered 1 to QX480_CHANNEL_COUNT */

#define QX480_TRACE_SENT 0     /**< trace direction: a request as it is written */
#define QX480_TRACE_RECEIVED 1 /**< trace direction: the frame taken as the request's answer */
#define QX480_TRACE_DROPPED 2  /**< trace direction: stray bytes, another command's frame, a failed frame */

/** One channel's times, exactly in 10 ps counts and in seconds. */
typedef struct qx480_channel_timing {
    uint64_t delay_counts;   /**< the delay, 10 ps counts */
    uint64_t width_counts;   /**< the pulse width, 10 ps counts */
    uint64_t time140_counts; /**< the channel's time at 140, 10 ps counts */
    uint64_t time204_counts; /**< the channel's time at 204, 10 ps counts */
    double delay_s;          /**< the delay, seconds */
    double width_s;          /**< the pulse width, seconds */
    double time140_s;        /**< the channel's time at 140, seconds */
    double time204_s;        /**< the channel's time at 204, seconds */
} qx480_channel_timing;

/** The device's whole timing block. The caller sets `size` to
 * sizeof(qx480_timing) before the call; new fields are only ever appended, and
 * a smaller size from a caller built against an older header is honoured (only
 * that many bytes are written). */
typedef struct qx480_timing {
    uint32_t size;          /**< sizeof(qx480_timing) as the caller knows it, set before the call */
    uint32_t trigger_ticks; /**< internal trigger period in 4 ns ticks */
    double trigger_hz;      /**< 1e9 / (trigger_ticks * 4); 0.0 for 0 ticks */
    uint32_t word128;       /**< device word at 128; the device fields are passed on as the device reports them */
    uint32_t byte130;       /**< device byte at 130 */
    uint32_t byte131;       /**< device byte at 131 */
    uint32_t byte136;       /**< device byte at 136 */
    uint32_t byte137;       /**< device byte at 137 */
    uint32_t word138;       /**< device word at 138 */
    float float276;         /**< device value at 276, as sent */
    qx480_channel_timing channels[QX480_CHANNEL_COUNT]; /**< channel n is channels[n - 1] */
} qx480_timing;

/** Called for each frame sent, received or dropped, on the calling thread,
 * inside the call: `frame` is valid only during the callback, which must not
 * call back into the library with the same handle. */
typedef void (*qx480_trace_fn)(void* user, int32_t direction, const uint8_t* frame, int32_t size);

/** "MAJOR.MINOR.PATCH" of the library. Never fails. */
QX480_EXPORT const char* qx480_version(void);

/** The name of a status, "QX480_ERR_REFUSED"; "QX480_UNKNOWN_STATUS" for a
 * value that is no status. Never fails; the string is static. */
QX480_EXPORT const char* qx480_status_name(int32_t status);

/** One English sentence on a status; one for an unknown value too. Never fails; static. */
QX480_EXPORT const char* qx480_status_text(int32_t status);

/** The one line that says why a step failed with `status` on `port`, as the qx480 tool prints it, into `out`
 * (always NUL-terminated, cut to fit): `what` names the step ("the delay 10 ns for channel 1"), or is NULL for
 * qx480_open at `baud`. "no answer from COM3 within 1000 ms to the delay 10 ns for channel 1: is the device on,
 * on this port, at this baud rate?"; "no such port COM9". An unknown status gets a line too. ARGUMENT for port
 * or out NULL or out_size 0 or below. */
QX480_EXPORT int32_t qx480_failure_line(int32_t status, const char* port, const char* what, int32_t baud, char* out,
                                        int32_t out_size);

/* Times and rates in the qx480 tool's grammar. A time is a decimal number
 * (decimals and an exponent allowed) with an optional unit ps, ns (the
 * default), us, ms or s: "10ns", "1.5 us", "0.01ns", "1e3ns", "2e-6 s". A rate
 * is a decimal number with an optional unit Hz (the default), kHz or MHz:
 * "1kHz", "2.5MHz", "1000". A refusal's sentence starts with the text (or the
 * seconds) in single quotes and says why. These calls need no device and do no
 * I/O; an output pointer may be NULL when its value is not wanted. */

/** Parses a time in the tool's grammar into exact 10 ps counts. OK; or ARGUMENT with one sentence in
 * `message` naming the text and why ("'5ps' is not a whole number of 10 ps steps: the nearest are 0ns and 10ps").
 * `message` may be NULL when message_size is 0; otherwise it is always NUL-terminated, cut to fit. */
QX480_EXPORT int32_t qx480_parse_time(const char* text, uint64_t* counts_10ps, char* message, int32_t message_size);

/** Parses a rate in the tool's grammar into the 4 ns period the device will use and the rate that period gives. */
QX480_EXPORT int32_t qx480_parse_rate(const char* text, uint32_t* ticks, double* programmed_hz, char* message,
                                      int32_t message_size);

/** Seconds to the nearest whole 10 ps step, by the rule qx480_set_delay uses; ARGUMENT with its sentence otherwise. */
QX480_EXPORT int32_t qx480_seconds_to_counts(double seconds, uint64_t* counts_10ps, char* message,
                                             int32_t message_size);

/** Counts as the shortest exact text the tool prints ("10 ns", "1.5 us", "12.34 ns"); ARGUMENT if out_size is too
 * small.
 */
QX480_EXPORT int32_t qx480_format_time(uint64_t counts_10ps, char* out, int32_t out_size);

/** The rate a trigger period of `ticks` 4 ns ticks gives in *hz (0.0 for 0 ticks), and the tool's text for the
 * period in `out`: "1 kHz (period 250000 x 4 ns)", "none (period 0 x 4 ns)". ARGUMENT if out_size is too small. */
QX480_EXPORT int32_t qx480_describe_period(uint32_t ticks, double* hz, char* out, int32_t out_size);

/** Opens the device on `port_utf8` ("/dev/ttyUSB0", "COM3", "\\\\.\\COM10")
 * at `baud` with 8 data bits, no parity and one stop bit, and stores the new
 * handle in *out (NULL on any failure). Sends nothing.
 * Returns OK; ARGUMENT (out or port_utf8 NULL, baud <= 0, on Windows a name
 * that is not UTF-8; POSIX passes the name through as bytes); NO_PORT; PORT_BUSY; PERMISSION; NOT_SERIAL; SETTINGS;
 * MEMORY; INTERNAL (the system refused for another reason). */
QX480_EXPORT int32_t qx480_open(const char* port_utf8, int32_t baud, qx480_device** out);

/** qx480_open, and on a failure the one line that says why in `message` (always NUL-terminated, cut to fit; the
 * empty string on success), as the qx480 tool prints it. For a port behind a terminal server the line ends with
 * what the server said or did: "cannot set up rfc2217://lab-ts:4001 at 115200 baud, 8 data bits, no parity, 1 stop
 * bit: the server set 9600 baud for 115200 baud". `message` may be NULL when message_size is 0. Returns what
 * qx480_open returns, and ARGUMENT for a NULL `message` with a message_size above 0. */
QX480_EXPORT int32_t qx480_open_message(const char* port_utf8, int32_t baud, qx480_device** out, char* message,
                                        int32_t message_size);

/** Closes the port and frees the handle. NULL is harmless. */
QX480_EXPORT void qx480_close(qx480_device* dev);

/* The failures every call below can return besides those it names:
 * ARGUMENT (dev NULL); WRITE; NO_ANSWER; BAD_ANSWER; PORT; MEMORY; INTERNAL.
 * The commands also return REFUSED when the device says no. (NOT_OPEN does
 * not arise: a handle from qx480_open has its port open until qx480_close.) */

/** QX480_TRIGGER_INTERNAL, _EXTERNAL or _SOFTWARE; any other value is ARGUMENT. */
QX480_EXPORT int32_t qx480_set_trigger_source(qx480_device* dev, int32_t source);

/** The internal trigger rate in hertz. The device takes a period of whole 4 ns
 * ticks: 1e9 / hz / 4, cut toward zero; the rate that period gives is stored
 * in *programmed_hz (may be NULL). ARGUMENT for NaN, hz <= 0, hz above
 * 250 MHz and rates slower than about 0.0582 Hz (a period beyond 2^32 ticks). */
QX480_EXPORT int32_t qx480_set_trigger_rate(qx480_device* dev, double hz, double* programmed_hz);

/** The internal trigger period exactly, in 4 ns ticks; 0 is ARGUMENT. */
QX480_EXPORT int32_t qx480_set_trigger_ticks(qx480_device* dev, uint32_t ticks);

/** Switches channel 1..8 (others: ARGUMENT) on (non-zero) or off (0). */
QX480_EXPORT int32_t qx480_set_channel_output(qx480_device* dev, int32_t channel, int32_t on);

/** Switches the global output on (non-zero) or off (0). */
QX480_EXPORT int32_t qx480_set_output(qx480_device* dev, int32_t on);

/** A channel's delay or pulse width in seconds, sent as the nearest whole
 * 10 ps step. ARGUMENT for a channel outside 1..8 and for a time that is
 * negative, not finite, beyond the 64-bit wire field, or not within a
 * thousandth of a step of a whole step (5e-12, 12.345e-9).
 * @{ */
QX480_EXPORT int32_t qx480_set_delay(qx480_device* dev, int32_t channel, double seconds);
QX480_EXPORT int32_t qx480_set_width(qx480_device* dev, int32_t channel, double seconds);
/** @} */

/** The same exactly, in 10 ps counts; ARGUMENT for a channel outside 1..8.
 * @{ */
QX480_EXPORT int32_t qx480_set_delay_counts(qx480_device* dev, int32_t channel, uint64_t counts_10ps);
QX480_EXPORT int32_t qx480_set_width_counts(qx480_device* dev, int32_t channel, uint64_t counts_10ps);
/** @} */

/** Fires one software trigger. */
QX480_EXPORT int32_t qx480_fire(qx480_device* dev);

/** The device temperature in degrees Celsius. ARGUMENT for celsius NULL;
 * SHORT_ANSWER; ECHO. */
QX480_EXPORT int32_t qx480_read_temperature(qx480_device* dev, float* celsius);

/** All eight channels and the device-wide values, in one exchange. ARGUMENT
 * for out NULL or out->size 0, below 4 or above sizeof(qx480_timing);
 * SHORT_ANSWER; ECHO. out->size is left as the caller set it. */
QX480_EXPORT int32_t qx480_read_timing(qx480_device* dev, qx480_timing* out);

/** Calls fn(user, direction, frame, size) for every frame of later calls on
 * this handle; fn NULL removes it. ARGUMENT for dev NULL. */
QX480_EXPORT int32_t qx480_set_trace(qx480_device* dev, qx480_trace_fn fn, void* user);

#ifdef __cplusplus
}
#endif

#endif /* QX480_H */
