// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/encryption.h"

#include "core/run_control.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/program_folder.h"

namespace kestrel {
namespace {

bool runTool(RunControl& rc, const std::string& tool, const std::string& file,
             const std::string& password, bool encrypt, std::string* error) {
    auto say = [&](const std::string& why) {
        if (error != nullptr) {
            *error = why;
        }
        return false;
    };
    if (tool.empty()) {
        return say("the encryption tool bfish is missing");
    }
    const std::string input = file + ".ue";
    std::string why;
    if (!fs::renameFile(file, input, &why)) {
        return say(why);
    }
    // The password goes through a pipe: any user can read a process's arguments.
    const std::vector<std::string> argv = {tool,     "/i:\"" + input + "\"", "/o:\"" + file + "\"",
                                           "/pfd:0", encrypt ? "/e" : "/d",  "/q"};
    // The tool drops one line feed at the end, so a password ending in one survives.
    const std::string secret = password + "\n";
    const std::string& caption = rc.msg(encrypt ? "strMsgEncrypting" : "strMsgDecrypting");
    const std::string item = fs::fileNameOf(file);
    auto code = runProcessWithInput(
        argv, secret,
        [&] {
            rc.updateProgress(caption, item, 0, 0);
            rc.host.yield();
        },
        &why);
    if (!fs::removeFile(input, &why)) {
        // For encryption the input is the plain file: say so, rather than leave it unnoticed.
        rc.WriteLog(rc.messages.format("strMsgEncryptFailed", {{"%d", input}, {"%s", why}}));
    }
    if (!code) {
        return say(why);
    }
    if (*code != 0) {
        // The tool writes nothing under the output name when it fails; make sure of it.
        if (fs::exists(file)) {
            fs::removeLeftover(file);
        }
        return say("the encryption tool ended with code " + std::to_string(*code) +
                   (*code == 3 ? " (wrong password or damaged file)" : ""));
    }
    if (!fs::isRegularFile(file)) {
        return say("the encryption tool wrote no output");
    }
    return true;
}

}  // namespace

std::string encryptionTool(const ProgramFolder& folder) {
    // A copy in the program folder's bin/ comes first. An installed program keeps the tool
    // among its private helpers, looked at before bin/ so that a bfish of another package in
    // /usr/bin is never run; a build tree has it beside the executables.
    if (std::string own = folder.path("bin/bfish"); fs::exists(own)) {
        return own;
    }
    for (const std::string& root : folder.assetRoots()) {
        for (const char* relative : {KESTREL_TOOL_DIR "/bfish", "bin/bfish"}) {
            if (std::string candidate = fs::join(root, relative); fs::exists(candidate)) {
                return candidate;
            }
        }
    }
    return "";
}

bool EncryptFile(RunControl& rc, const std::string& tool, const std::string& file,
                 const std::string& password, std::string* error) {
    return runTool(rc, tool, file, password, true, error);
}

bool DecryptFile(RunControl& rc, const std::string& tool, const std::string& file,
                 const std::string& password, std::string* error) {
    return runTool(rc, tool, file, password, false, error);
}

}  // namespace kestrel
