// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_browse_restore_list.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QToolButton>
#include <QTreeView>

#include "core/app_context.h"
#include "engine/destination.h"
#include "engine/paths.h"
#include "platform/text.h"
#include "restore/restore.h"
#include "runner/job_runner.h"
#include "ui/icons.h"
#include "ui/language.h"
#include "ui/layout_memory.h"
#include "ui/restore_model.h"
#include "ui_frm_browse_restore_list.h"

namespace kestrel::ui {

namespace {

const char* const kWindowSection = "frmBrowseRestoreList";
const char* const kListSection = "frmBrowseRestoreList-lvListView";

constexpr int kLargeIcon = 32;
constexpr int kSmallIcon = 16;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// The hourglass while the catalogue is fetched and read.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { release(); }
    void release() {
        if (m_on) {
            QApplication::restoreOverrideCursor();
            m_on = false;
        }
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool m_on = true;
};

}  // namespace

RestoreSeams desktopRestoreSeams() {
    RestoreSeams seams;
    seams.pickFolder = [](QWidget* parent, const QString& title) {
        return QFileDialog::getExistingDirectory(parent, title).toStdString();
    };
    seams.askPassword = [](QWidget* parent, const QString& question) -> std::optional<std::string> {
        bool ok = false;
        const QString text = QInputDialog::getText(parent, QApplication::applicationDisplayName(),
                                                   question, QLineEdit::Password, QString(), &ok);
        if (!ok)
            return std::nullopt;
        return text.toStdString();
    };
    return seams;
}

frmBrowseRestoreList::frmBrowseRestoreList(AppContext& ctx, JobRunner& runner, RestoreState& state,
                                           const LanguageFile& language, RestoreSeams seams,
                                           QWidget* parent)
    : QDialog(parent),
      m_ctx(ctx),
      m_runner(runner),
      m_state(state),
      m_seams(std::move(seams)),
      m_ui(std::make_unique<Ui::frmBrowseRestoreList>()) {
    m_ui->setupUi(this);
    m_model = new RestoreModel(state, this);
    m_model->setSizeWords(sizeWordsOf(ctx.messages));
    m_sort = new RestoreSortModel(this);
    m_sort->setSourceModel(m_model);
    m_search = new RestoreSearchModel(*m_model, this);

    auto& u = *m_ui;
    u.tvTreeView->setModel(m_model);
    for (int column = 1; column < RestoreModel::kColumns; ++column)
        u.tvTreeView->setColumnHidden(column, true);
    // A deep path scrolls sideways instead of being cut.
    u.tvTreeView->header()->setStretchLastSection(false);
    u.tvTreeView->header()->setSectionResizeMode(RestoreModel::kName,
                                                 QHeaderView::ResizeToContents);
    u.lvListView->setModel(m_sort);
    u.lvListIcons->setModel(m_sort);
    u.lvSearch->setModel(m_search);
    QHeaderView& header = *u.lvListView->header();
    header.setSectionsClickable(true);
    header.setSortIndicatorShown(false);
    header.setSectionResizeMode(QHeaderView::Interactive);
    header.setStretchLastSection(true);
    u.lvSearch->header()->resizeSection(RestoreSearchModel::kPath, 360);
    u.lvSearch->header()->resizeSection(RestoreSearchModel::kSession, 140);
    // The grip draws a bar while dragged and applies the split on release.
    u.imgSplitter->setOpaqueResize(false);
    u.imgSplitter->setStretchFactor(0, 1);
    u.imgSplitter->setStretchFactor(1, 2);
    u.imgSplitter->setSizes({250, 570});

    u.keyRestoreFiles->setIcon(iconFor("keyRestoreFiles"));
    u.keyView->setIcon(iconFor("keyView"));
    u.keyClose->setIcon(iconFor("keyClose"));
    auto* viewMenu = new QMenu(this);
    m_views = new QActionGroup(this);
    for (QAction* entry : {u.keyIcon, u.keysmall, u.keyList, u.keyReport}) {
        entry->setIcon(iconFor(entry->objectName()));
        viewMenu->addAction(entry);
        m_views->addAction(entry);
    }
    u.keyView->setMenu(viewMenu);
    if (auto* button = qobject_cast<QToolButton*>(u.tbToolbar->widgetForAction(u.keyView)))
        button->setPopupMode(QToolButton::InstantPopup);

    m_status = new QLabel(u.sbStatusBar);
    u.sbStatusBar->addWidget(m_status, 1);
    wire();
    retranslate(language);
    setView(View::Report);
    if (!state.tree.sessions().empty())
        showNode(state.tree.sessions().front());
    updateStatus();
    restoreLayout();
}

void frmBrowseRestoreList::restoreLayout() {
    const auto setting = [this](const char* name) {
        return text::leadingInt(m_ctx.settings.GetSetting(kSettingsArea, kWindowSection, name));
    };
    const auto width = static_cast<int>(setting("Width"));
    const auto height = static_cast<int>(setting("Height"));
    if (width >= minimumWidth() && height >= minimumHeight() && width > 0 && height > 0)
        resize(width, height);
    static const int kDefaults[RestoreModel::kColumns] = {170, 80, 100, 100, 120};
    restoreColumnWidths(m_ctx.settings, kListSection, *m_ui->lvListView->header(), kDefaults,
                        RestoreModel::kColumns, 20);
}

void frmBrowseRestoreList::saveLayout() {
    const auto save = [this](const char* name, int value) {
        (void)m_ctx.settings.SaveSetting(kSettingsArea, kWindowSection, name,
                                         std::to_string(value));
    };
    save("Width", width());
    save("Height", height());
    saveColumnWidths(m_ctx.settings, kListSection, *m_ui->lvListView->header());
}

frmBrowseRestoreList::~frmBrowseRestoreList() {
    closeSession();
}

void frmBrowseRestoreList::wire() {
    auto& u = *m_ui;
    connect(u.keyRestoreFiles, &QAction::triggered, this, [this] { restoreFiles(); });
    connect(u.keyClose, &QAction::triggered, this, [this] { reject(); });
    connect(u.keyIcon, &QAction::triggered, this, [this] { setView(View::Icons); });
    connect(u.keysmall, &QAction::triggered, this, [this] { setView(View::SmallIcons); });
    connect(u.keyList, &QAction::triggered, this, [this] { setView(View::List); });
    connect(u.keyReport, &QAction::triggered, this, [this] { setView(View::Report); });
    connect(u.tvTreeView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    showNode(RestoreModel::nodeOf(current));
            });
    connect(u.tvTreeView, &QTreeView::clicked, this,
            [this](const QModelIndex& at) { showNode(RestoreModel::nodeOf(at)); });
    connect(u.lvListView, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& at) { openItem(at); });
    connect(u.lvListIcons, &QListView::doubleClicked, this,
            [this](const QModelIndex& at) { openItem(at); });
    // A match opens the folder that holds it.
    connect(u.lvSearch, &QTreeView::doubleClicked, this, [this](const QModelIndex& at) {
        if (!at.isValid() || m_restoring)
            return;
        const int node = m_search->nodeAt(at.row());
        m_ui->txtSearch->clear();
        showNode(m_state.tree.node(node).parent);
    });
    connect(u.lvListView->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        m_sort->columnClick(column);
        QHeaderView& header = *m_ui->lvListView->header();
        header.setSortIndicatorShown(true);
        header.setSortIndicator(m_sort->sortedColumn(), m_sort->sortedOrder());
    });
    connect(u.txtSearch, &QLineEdit::textChanged, this, &frmBrowseRestoreList::onSearch);
    connect(m_model, &RestoreModel::checksChanged, this, [this] { updateStatus(); });
    u.lvListView->installEventFilter(this);
    u.lvListIcons->installEventFilter(this);
}

void frmBrowseRestoreList::retranslate(const LanguageFile& language) {
    m_ui->retranslateUi(this);
    ApplyLanguage(*this, language);
    updateStatus();
}

QAbstractItemView& frmBrowseRestoreList::listView() {
    if (m_view == View::Report)
        return *m_ui->lvListView;
    return *m_ui->lvListIcons;
}

void frmBrowseRestoreList::showNode(int node) {
    if (node < 0 || static_cast<size_t>(node) >= m_state.tree.size())
        return;
    const bool same = node == m_shown;
    m_shown = node;
    const QModelIndex source = m_model->indexOf(node);
    if (m_ui->tvTreeView->currentIndex() != source) {
        m_ui->tvTreeView->setCurrentIndex(source);
        m_ui->tvTreeView->scrollTo(source);
    }
    if (same && m_ui->lvListView->rootIndex().isValid())
        return;
    const QModelIndex root = m_sort->mapFromSource(source);
    m_ui->lvListView->setRootIndex(root);
    m_ui->lvListIcons->setRootIndex(root);
}

void frmBrowseRestoreList::openItem(const QModelIndex& listIndex) {
    if (!listIndex.isValid())
        return;
    const QModelIndex source = m_sort->mapToSource(listIndex);
    if (source.data(RestoreModel::kTagRole).toString() != QLatin1String("dir"))
        return;
    showNode(RestoreModel::nodeOf(source));
}

void frmBrowseRestoreList::goUp() {
    if (m_shown < 0)
        return;
    const int parent = m_state.tree.node(m_shown).parent;
    if (parent < 0)
        return;
    showNode(parent);
}

bool frmBrowseRestoreList::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == m_ui->lvListView || watched == m_ui->lvListIcons) &&
        event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Backspace) {
        goUp();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmBrowseRestoreList::setView(View view) {
    m_view = view;
    auto& u = *m_ui;
    QListView& icons = *u.lvListIcons;
    switch (view) {
        case View::Icons:
            u.keyIcon->setChecked(true);
            icons.setViewMode(QListView::IconMode);
            icons.setIconSize(QSize(kLargeIcon, kLargeIcon));
            icons.setGridSize(QSize(112, 72));
            icons.setWordWrap(true);
            break;
        case View::SmallIcons:
            u.keysmall->setChecked(true);
            icons.setViewMode(QListView::ListMode);
            icons.setFlow(QListView::LeftToRight);
            icons.setWrapping(true);
            icons.setIconSize(QSize(kSmallIcon, kSmallIcon));
            icons.setGridSize(QSize(180, 24));
            icons.setWordWrap(false);
            break;
        case View::List:
            u.keyList->setChecked(true);
            icons.setViewMode(QListView::ListMode);
            icons.setFlow(QListView::TopToBottom);
            icons.setWrapping(true);
            icons.setIconSize(QSize(kSmallIcon, kSmallIcon));
            icons.setGridSize(QSize());
            icons.setWordWrap(false);
            break;
        case View::Report:
            u.keyReport->setChecked(true);
            break;
    }
    // The view mode resets the movement; items stay where the list puts them.
    icons.setMovement(QListView::Static);
    icons.setResizeMode(QListView::Adjust);
    icons.setRootIndex(u.lvListView->rootIndex());
    if (u.txtSearch->text().isEmpty())
        u.stkViews->setCurrentWidget(&listView());
}

void frmBrowseRestoreList::onSearch(const QString& text) {
    m_search->search(text);
    m_ui->stkViews->setCurrentWidget(text.isEmpty() ? &listView() : m_ui->lvSearch);
}

QString frmBrowseRestoreList::statusText() const {
    return m_status->text();
}

void frmBrowseRestoreList::updateStatus() {
    if (m_status == nullptr || m_model == nullptr)
        return;
    m_status->setText(q(m_ctx.messages.format(
        "strMsgCheckedFiles",
        {{"%1", std::to_string(m_model->checkedFiles())},
         {"%2", FormatSize(m_model->checkedBytes(), m_model->sizeWords())}})));
}

void frmBrowseRestoreList::setRestoring(bool restoring) {
    m_restoring = restoring;
    m_model->setReadOnly(restoring);
    auto& u = *m_ui;
    for (QAction* command : {u.keyRestoreFiles, u.keyClose})
        command->setEnabled(!restoring);
    u.txtSearch->setEnabled(!restoring);
}

void frmBrowseRestoreList::restoreFiles() {
    if (m_restoring || m_runner.busy())
        return;
    Host& host = m_ctx.host;
    const RestoreTree& tree = m_state.tree;
    if (tree.checkedFiles().empty() && tree.checkedLinks().empty() &&
        tree.foldersInvolved().empty()) {
        tell(host, m_ctx.msg("strMsgNoFilesToRestore"), MsgIcon::Exclamation);
        return;
    }
    enum Choice { kOriginal, kElsewhere, kCancel };
    RestoreOptions options;
    for (;;) {
        const int choice = choose(host, m_ctx.msg("strMsgRFToOrigQ"),
                                  {m_ctx.msg("strMsgRestoreToOriginal"),
                                   m_ctx.msg("strMsgRestoreElsewhere"), m_ctx.msg("strMsgCancel")},
                                  kCancel);
        if (choice == kOriginal) {
            options.toOriginal = true;
            break;
        }
        if (choice != kElsewhere) {
            m_ctx.WriteLog(m_ctx.msg("strMsgRestoreAborted"));
            return;
        }
        // A folder dialog given up leads back to the question, which can cancel.
        const std::string folder =
            m_seams.pickFolder ? m_seams.pickFolder(this, q(m_ctx.msg("strMsgPathToRestoreFiles")))
                               : std::string();
        if (!folder.empty()) {
            options.toOriginal = false;
            options.folder = folder;
            break;
        }
    }
    setRestoring(true);
    RestoreSummary summary;
    const RunnerResult result = m_runner.restore(m_state, options, &summary);
    setRestoring(false);
    if (result != RunnerResult::Done) {
        const std::string name = m_state.job ? m_state.job->sName : std::string();
        tell(host, m_runner.refusalText(result, name), MsgIcon::Critical);
    }
}

void frmBrowseRestoreList::done(int result) {
    if (m_restoring)
        return;
    saveLayout();
    closeSession();
    QDialog::done(result);
}

void frmBrowseRestoreList::closeEvent(QCloseEvent* event) {
    if (m_restoring) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void frmBrowseRestoreList::closeSession() {
    if (m_state.ftp) {
        m_state.ftp->Disconnect();
        m_state.ftp.reset();
    }
}

FtpSetup SetupFTPConnection(AppContext& ctx, RestoreState& state, const JobRunner& runner,
                            const std::string& name, const FtpClientFactory& factory) {
    const auto job = runner.job(name);
    if (!job)
        return FtpSetup::NoSuchJob;
    if (!job->destFTP)
        return FtpSetup::NotFtp;
    state.ftp = openDestinationSession(ctx.control, factory, *job);
    return state.ftp ? FtpSetup::Connected : FtpSetup::Failed;
}

void OpenRestoreBrowser(QWidget* parent, AppContext& ctx, JobRunner& runner,
                        const LanguageFile& language, const RestoreSeams& seams,
                        const std::string& job) {
    const auto found = runner.job(job);
    if (!found || runner.busy())
        return;
    RestoreState state;
    WaitCursor hourglass;
    if (found->destFTP) {
        ctx.control.clearFailures();
        const FtpSetup status = SetupFTPConnection(ctx, state, runner, job, seams.ftp);
        if (status == FtpSetup::Failed) {
            hourglass.release();
            tellFailure(ctx.host, ctx.msg("strMsgCantConnectToFTP"), ctx.control.failureDetails());
            return;
        }
        if (status != FtpSetup::Connected)
            return;
    }
    state.askPassword = [&](const std::string& catalogue) -> std::optional<std::string> {
        if (!seams.askPassword)
            return std::nullopt;
        hourglass.release();
        return seams.askPassword(parent, QString::fromStdString(ctx.messages.format(
                                             "strMsgKeptPasswordPrompt", {{"%d", catalogue}})));
    };
    const RunnerResult result = runner.openRestore(job, state);
    state.askPassword = nullptr;
    hourglass.release();
    if (result != RunnerResult::Done) {
        if (state.ftp)
            state.ftp->Disconnect();
        // The load tells nothing itself when it fails; a refusal says why.
        tell(ctx.host,
             result == RunnerResult::Failed ? ctx.msg("strMsgCantCreateRestList")
                                            : runner.refusalText(result, job),
             MsgIcon::Critical);
        return;
    }
    frmBrowseRestoreList browser(ctx, runner, state, language, seams, parent);
    if (seams.show) {
        seams.show(browser);
    } else {
        browser.exec();
    }
}

}  // namespace kestrel::ui
