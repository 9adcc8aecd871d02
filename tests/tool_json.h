// What the qx480 tool's tests share on every platform: its JSON lines read
// back with nlohmann/json, and a folder of files of a test's own.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "tool_output.h"

namespace tooltest {

using nlohmann::json;

// One line of --json output; a test failure and a discarded value when it is not JSON.
inline json ParseLine(const std::string& line) {
    json value = json::parse(line, nullptr, false);
    EXPECT_FALSE(value.is_discarded()) << "not JSON: " << line;
    return value;
}

// Every line of `out` as a record: each must be one JSON object with a
// "step" (a string, or null for a failure outside any step) and an "ok".
inline std::vector<json> Records(const std::string& out) {
    std::vector<json> records;
    for (const std::string& line : Lines(out)) {
        json record = ParseLine(line);
        EXPECT_TRUE(record.is_object()) << line;
        EXPECT_TRUE(record.contains("step") && (record["step"].is_string() || record["step"].is_null())) << line;
        EXPECT_TRUE(record.contains("ok") && record["ok"].is_boolean()) << line;
        records.push_back(record);
    }
    return records;
}

// A new empty folder under the system's temporary folder, removed with what
// it holds when the object goes.
class TempFolder {
public:
    TempFolder() {
        static std::atomic<int> made{0};
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = std::string(test->test_suite_name()) + "." + test->name();
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        m_path = std::filesystem::temp_directory_path() /
                 ("qx480-tool-test-" + std::to_string(std::hash<std::string>{}(name)) + "-" + std::to_string(++made) +
                  "-" + std::to_string(now));
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The path of `name` in the folder.
    std::string File(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Path() const { return m_path; }

    // Writes `text` to `name` in the folder and returns its path.
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(File(name), std::ios::binary) << text;
        return File(name);
    }

private:
    std::filesystem::path m_path;
};

// The whole of a file; empty when there is none.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace tooltest
