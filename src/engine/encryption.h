#pragma once

#include <string>

namespace kestrel {

struct AppContext;

// Encrypts or decrypts a file in place (under its own name) with the encryption tool bin/bfish,
// which the program runs once per file and waits for. On failure *error says why and the file
// is gone from under its name (the caller must not store it); the plain input is never left
// behind under the encrypted file's name.
[[nodiscard]] bool EncryptFile(AppContext& ctx, const std::string& file,
                               const std::string& password, std::string* error = nullptr);
[[nodiscard]] bool DecryptFile(AppContext& ctx, const std::string& file,
                               const std::string& password, std::string* error = nullptr);

}  // namespace kestrel
