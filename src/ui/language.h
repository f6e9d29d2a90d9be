// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>

class QObject;
class QTranslator;
class QWidget;

namespace kestrel {
class LanguageFile;
}

namespace kestrel::ui {

// The dynamic property that holds a control-array member's index: its captions are looked up
// as name + "|" + index.
inline constexpr const char* kIndexProperty = "index";
void setControlIndex(QObject& control, int index);

// Captions a window and its controls from the language file, in the window's section (its
// objectName): "Caption" for the title; a label, frame, button, check box, option button, menu
// or menu item by its name, or name|index for a control-array member; a list view's column
// headers as name|column (from 1); a toolbar's buttons as name|button (from 1, separators
// counted) and their drop-down items as name|button|item (from 1); a tab widget's tabs as
// name|tab (from 0); a designed tool tip as key + ".ToolTip". Absent or empty values leave
// the designed caption.
void ApplyLanguage(QWidget& window, const LanguageFile& language);

// Qt's own texts (standard buttons, file dialogs, context menus) and its number and date forms
// in the language the user chose, named by a locale ("de"). Debian ships Qt's translations; with
// none for the locale they stay English.
class QtLanguage {
public:
    QtLanguage();
    ~QtLanguage();
    QtLanguage(const QtLanguage&) = delete;
    QtLanguage& operator=(const QtLanguage&) = delete;

    // True when Qt's texts for the locale were found (English needs none).
    bool use(const std::string& locale);

private:
    std::unique_ptr<QTranslator> m_translator;
};

// Every key ApplyLanguage looks up for this window, for checking language files.
std::set<std::string> captionKeys(QWidget& window);

}  // namespace kestrel::ui
