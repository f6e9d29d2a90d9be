// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/layout_memory.h"

#include <QHeaderView>
#include <algorithm>

#include "core/settings.h"
#include "platform/text.h"

namespace kestrel::ui {

std::string columnWidthName(int column) {
    const std::string digits = std::to_string(column + 1);
    std::string name = "chw";
    name.append(digits.size() < 3 ? 3 - digits.size() : 0, '0');
    name += digits;
    return name;
}

void restoreColumnWidths(const Settings& settings, const std::string& section, QHeaderView& header,
                         const int* defaults, int count, int minimum) {
    for (int column = 0; column < header.count(); ++column) {
        const auto stored = static_cast<int>(
            text::leadingInt(settings.GetSetting(kSettingsArea, section, columnWidthName(column))));
        if (stored >= minimum) {
            header.resizeSection(column, stored);
        } else if (defaults != nullptr && count > 0) {
            header.resizeSection(column, defaults[std::min(column, count - 1)]);
        }
    }
}

void saveColumnWidths(Settings& settings, const std::string& section, const QHeaderView& header) {
    for (int column = 0; column < header.count(); ++column) {
        (void)settings.SaveSetting(kSettingsArea, section, columnWidthName(column),
                                   std::to_string(header.sectionSize(column)));
    }
}

}  // namespace kestrel::ui
