// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

class QHeaderView;

namespace kestrel {
class Settings;
}

namespace kestrel::ui {

// The setting that keeps a list column's width: "chw" and the column's number from 1 in three
// digits ("chw001").
std::string columnWidthName(int column);

// The widths of a list's columns under a section of the "Backup" area. A stored width below
// minimum leaves the column as it is (or at its default, when defaults are given).
void restoreColumnWidths(const Settings& settings, const std::string& section, QHeaderView& header,
                         const int* defaults = nullptr, int count = 0, int minimum = 1);
void saveColumnWidths(Settings& settings, const std::string& section, const QHeaderView& header);

}  // namespace kestrel::ui
