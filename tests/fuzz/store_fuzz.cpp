// SPDX-License-Identifier: GPL-3.0-or-later
// The job store as a damaged or hostile file: read, written back, read again.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "jobs/jobs.h"
#include "jobs/store_format.h"
#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Jobs jobs;
    std::vector<StoreProblem> problems;
    readJobStore(IniFile::parse(text), jobs, problems);
    // What was read must write and read back without loss of jobs.
    Jobs again;
    std::vector<StoreProblem> none;
    readJobStore(IniFile::parse(writeJobStore(jobs).serialize()), again, none);
    if (again.count() != jobs.count()) {
        __builtin_trap();
    }
    return 0;
}
