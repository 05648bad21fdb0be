// Sends the library's log to a file of its own for the duration of a test.
#pragma once

#include "qxident.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

class LogCapture {
public:
    explicit LogCapture(int level = QXID_LOG_VERBOSE)
    {
        char tmpl[] = "/tmp/qxident-log-XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0)
            close(fd);
        path_ = tmpl;
        QXID_SetLogType(LOG_FILE, const_cast<char*>(path_.c_str()));
        QXID_SetLogLevel(level);
    }
    ~LogCapture()
    {
        QXID_SetLogLevel(QXID_LOG_INFO);
        QXID_SetLogType(LOG_TERMINE, nullptr);
        std::remove(path_.c_str());
    }
    std::string text() const
    {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool contains(const std::string& needle) const { return text().find(needle) != std::string::npos; }
    void clear() const { std::ofstream(path_, std::ios::trunc); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};
