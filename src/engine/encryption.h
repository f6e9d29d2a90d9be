// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kestrel {

class ProgramFolder;
class RunControl;

// Encrypts or decrypts a file in place (under its own name) with the encryption tool (bfish:
// tool is its path, "" when it is missing), which the program runs
// once per file and waits for. On failure *error says why and the file
// is gone from under its name (the caller must not store it); the plain input is never left
// behind under the encrypted file's name.
[[nodiscard]] bool EncryptFile(RunControl& rc, const std::string& tool, const std::string& file,
                               const std::string& password, std::string* error = nullptr);
[[nodiscard]] bool DecryptFile(RunControl& rc, const std::string& tool, const std::string& file,
                               const std::string& password, std::string* error = nullptr);
// Where the program keeps the encryption tool, "" when it is missing: the program folder's
// bin/bfish, else libexec/kestrel/bfish of the installation, else bin/bfish beside the
// executables (a build tree).
std::string encryptionTool(const ProgramFolder& folder);

}  // namespace kestrel
