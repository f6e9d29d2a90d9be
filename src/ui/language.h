#pragma once

#include <functional>
#include <set>
#include <string>

class QObject;
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
// name|tab (from 0). Absent or empty values leave the designed caption.
void ApplyLanguage(QWidget& window, const LanguageFile& language);

// Every key ApplyLanguage looks up for this window, for checking language files.
std::set<std::string> captionKeys(QWidget& window);

}  // namespace kestrel::ui
