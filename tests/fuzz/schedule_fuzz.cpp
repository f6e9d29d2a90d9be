// SPDX-License-Identifier: GPL-3.0-or-later
// A job's stored schedule text and the command line's schedule form.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "jobs/backup.h"
#include "jobs/schedule_text.h"
#include "jobs/store_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string problem;
    auto schedule = parseScheduleText(text, &problem);
    if (schedule && schedule->Tip >= kScheduleHourly && schedule->Tip <= kScheduleOnce) {
        // A schedule of a known kind writes and reads back as the same kind (an unknown kind,
        // which never runs, is written as none).
        auto again = parseScheduleText(scheduleText(schedule.get()), &problem);
        if (!again || again->Tip != schedule->Tip || again->Data != schedule->Data) {
            __builtin_trap();
        }
    }
    ScheduleTextError error = ScheduleTextError::None;
    (void)parseScheduleSpec(text, DateTime(), &error);
    (void)parseDateTimeText(text);
    return 0;
}
