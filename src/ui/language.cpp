// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/language.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QTranslator>
#include <QTreeView>
#include <QWidget>

#include "core/language_file.h"

namespace kestrel::ui {

namespace {

using Setter = std::function<void(const QString&)>;
using Visit = std::function<void(const std::string& key, const Setter&)>;

// Names that Qt gives its own inner widgets, and unnamed objects, are not controls.
bool isControl(const QObject& object) {
    const QString name = object.objectName();
    return !name.isEmpty() && !name.startsWith(QLatin1String("qt_"));
}

// name|index. Appended in place: GCC 12 misreads a chain of string additions at -O3.
std::string member(const std::string& name, int index) {
    std::string key = name;
    key += '|';
    key += std::to_string(index);
    return key;
}

std::string keyOf(const QObject& control) {
    std::string key = control.objectName().toStdString();
    const QVariant index = control.property(kIndexProperty);
    if (index.isValid()) {
        key = member(key, index.toInt());
    }
    return key;
}

void visitHeaders(QAbstractItemView& view, const std::string& name, const Visit& visit) {
    QAbstractItemModel* model = view.model();
    if (model == nullptr) {
        return;
    }
    for (int column = 0; column < model->columnCount(); ++column) {
        visit(member(name, column + 1), [model, column](const QString& text) {
            model->setHeaderData(column, Qt::Horizontal, text);
        });
    }
}

void visitToolbar(QToolBar& toolbar, const std::string& name, const Visit& visit) {
    const auto actions = toolbar.actions();
    for (int i = 0; i < actions.size(); ++i) {
        QAction* button = actions[i];
        const std::string key = member(name, i + 1);
        if (!button->isSeparator()) {
            visit(key, [button](const QString& text) { button->setText(text); });
        }
        if (QMenu* menu = button->menu()) {
            const auto items = menu->actions();
            for (int j = 0; j < items.size(); ++j) {
                QAction* item = items[j];
                visit(member(key, j + 1), [item](const QString& text) { item->setText(text); });
            }
        }
    }
}

void visitWindow(QWidget& window, const Visit& visit) {
    visit("Caption", [&window](const QString& text) { window.setWindowTitle(text); });

    QSet<const QAction*> toolbarButtons;
    for (QToolBar* toolbar : window.findChildren<QToolBar*>()) {
        for (const QAction* action : toolbar->actions()) {
            toolbarButtons.insert(action);
        }
        if (isControl(*toolbar)) {
            visitToolbar(*toolbar, toolbar->objectName().toStdString(), visit);
        }
    }
    for (QObject* object : window.findChildren<QObject*>()) {
        if (!isControl(*object)) {
            continue;
        }
        const std::string key = keyOf(*object);
        if (auto* label = qobject_cast<QLabel*>(object)) {
            visit(key, [label](const QString& text) { label->setText(text); });
        } else if (auto* frame = qobject_cast<QGroupBox*>(object)) {
            visit(key, [frame](const QString& text) { frame->setTitle(text); });
        } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
            // A toolbar's own buttons are captioned through the toolbar.
            auto* tool = qobject_cast<QToolButton*>(button);
            if (tool == nullptr || tool->defaultAction() == nullptr) {
                visit(key, [button](const QString& text) { button->setText(text); });
            }
        } else if (auto* menu = qobject_cast<QMenu*>(object)) {
            visit(key, [menu](const QString& text) { menu->setTitle(text); });
        } else if (auto* action = qobject_cast<QAction*>(object)) {
            if (!toolbarButtons.contains(action) && !action->isSeparator()) {
                visit(key, [action](const QString& text) { action->setText(text); });
            }
        } else if (auto* tabs = qobject_cast<QTabWidget*>(object)) {
            for (int tab = 0; tab < tabs->count(); ++tab) {
                visit(member(key, tab),
                      [tabs, tab](const QString& text) { tabs->setTabText(tab, text); });
            }
        } else if (auto* tree = qobject_cast<QTreeView*>(object)) {
            visitHeaders(*tree, key, visit);
        } else if (auto* table = qobject_cast<QTableView*>(object)) {
            visitHeaders(*table, key, visit);
        }
        // A designed tip is read as name.ToolTip, which older readers skip.
        auto* widget = qobject_cast<QWidget*>(object);
        if (widget != nullptr && !widget->toolTip().isEmpty()) {
            visit(key + ".ToolTip", [widget](const QString& text) { widget->setToolTip(text); });
        }
    }
}

}  // namespace

void setControlIndex(QObject& control, int index) {
    control.setProperty(kIndexProperty, index);
}

void ApplyLanguage(QWidget& window, const LanguageFile& language) {
    const std::string section = window.objectName().toStdString();
    visitWindow(window, [&](const std::string& key, const Setter& set) {
        if (auto text = language.profileString(section, key); !text.empty()) {
            set(QString::fromStdString(text));
        }
    });
}

std::set<std::string> captionKeys(QWidget& window) {
    std::set<std::string> keys;
    visitWindow(window, [&](const std::string& key, const Setter&) { keys.insert(key); });
    return keys;
}

QtLanguage::QtLanguage() = default;

QtLanguage::~QtLanguage() {
    if (m_translator)
        QCoreApplication::removeTranslator(m_translator.get());
}

bool QtLanguage::use(const std::string& locale) {
    if (m_translator) {
        QCoreApplication::removeTranslator(m_translator.get());
        m_translator.reset();
    }
    const QLocale chosen(QString::fromStdString(locale));
    QLocale::setDefault(chosen);
    if (chosen.language() == QLocale::English || chosen.language() == QLocale::C)
        return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(chosen, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.get());
    m_translator = std::move(translator);
    return true;
}

}  // namespace kestrel::ui
