#include "tests/support/stdout_capture.h"

#include <iostream>

StdoutCapture::StdoutCapture() : previous(std::cout.rdbuf(buffer.rdbuf())) {}

StdoutCapture::~StdoutCapture()
{
    std::cout.rdbuf(previous);
}

std::vector<std::string> StdoutCapture::lines() const
{
    return split_lines(text());
}

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        result.push_back(line);
    return result;
}
