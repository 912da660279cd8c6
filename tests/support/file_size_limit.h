#pragma once

#include <QProcess>

// A file-size limit stands in for a full disk: a write past it fails with
// EFBIG (SIGXFSZ ignored, so the writer sees the failure instead of dying),
// leaving the file cut short as a full disk would.

// Puts this process, and whatever it starts from now on, under a limit of
// `bytes` per file. False when the limit cannot be set.
bool limit_file_size(qint64 bytes);

// A process whose program (and what it starts) runs under limit_file_size(bytes).
class FileSizeLimitedProcess : public QProcess
{
public:
    explicit FileSizeLimitedProcess(qint64 bytes) : bytes(bytes) {}

protected:
    void setupChildProcess() override;

private:
    const qint64 bytes;
};
