// Drives the test server from inside a test under Wine: its files, its fault
// rules (tests/support/test_server.py) and its log of requests. The server
// runs as a Linux process; its folder is reached through Wine's Z: drive.
#pragma once

#include <string>
#include <vector>

namespace testsrv {

struct LoggedRequest {
    std::string target;
    std::string range;  // empty when the request had no Range header
    std::string agent;
    std::string epilogueSent;  // on the line an "epilogue" rule logs when its answer ends
};

std::wstring host();
std::wstring rootPath();  // Windows path of the served folder

// Fresh launcher state pointed at this test's server, with an open session.
void useServer();

// Places bytes at a path relative to the served folder ("info.json",
// "files/a/b.bin"), creating folders.
void putFile(const std::string& relative, const std::string& bytes);
void removeFile(const std::string& relative);  // gone already is fine
void setRules(const std::string& json);
void clearRules();
void clearLog();
std::vector<LoggedRequest> requests();

std::string randomBytes(size_t size, unsigned seed);

}  // namespace testsrv
