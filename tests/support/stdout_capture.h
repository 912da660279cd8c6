#pragma once

#include <sstream>
#include <string>
#include <vector>

// Redirects std::cout into a buffer for its lifetime, so a test can read the
// diagnostic lines the code under test writes to standard output.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::string text() const { return buffer.str(); }
    std::vector<std::string> lines() const;

private:
    std::ostringstream buffer;
    std::streambuf* previous;
};

// Splits text into lines (without their line ends).
std::vector<std::string> split_lines(const std::string& text);
