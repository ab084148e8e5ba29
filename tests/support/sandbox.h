// A fresh data folder and game folder for one test, under the prefix's temp
// folder, plus small file helpers. Real files on Wine's file system.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "update/server_documents.h"

namespace sandbox {

// Empties <temp>\tvl-tests\<name> and points dataFolder and gameFolder there.
// Keeps serverHost and httpSession as they are.
void useFolders(const char* name);

std::wstring gamePath(const std::string& relative);  // under gameFolder, "/" allowed
void writeFile(const std::wstring& path, const std::string& bytes);
std::string readFile(const std::wstring& path);
bool exists(const std::wstring& path);
int64_t fileSize(const std::wstring& path);

ManifestEntry makeEntry(const std::string& path, const std::string& content);
std::string sha1Hex(const std::string& bytes);  // lowercase hex, through CNG

// Collects the state-changed posts that setStatus and downloads send.
struct PostSink {
    HWND hwnd = nullptr;
    PostSink();
    ~PostSink();
    // Takes the pending posts; returns how many, remembering their wParams.
    int drain();
    std::vector<WPARAM> wParams;
};

}  // namespace sandbox
