#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// Runs a program (argv[0] is its path; no shell is involved) and waits for it, calling
// whileWaiting every few milliseconds. Returns its exit code (128 + the signal number when a
// signal ended it), or nothing when it could not be started (*error says why).
std::optional<int> runProcess(const std::vector<std::string>& argv,
                              const std::function<void()>& whileWaiting,
                              std::string* error = nullptr);

// The id of this process.
int currentProcessId();

// The name of the user this process runs as ($USER, else the password database).
std::string currentUserName();

}  // namespace kestrel
