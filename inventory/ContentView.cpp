#include "inventory/ContentView.h"

#include "core/RawText.h"
#include "inventory/MessageRow.h"
#include "inventory/Provener.h"
#include "ui/CsvSaveDialog.h"
#include "ui/CustomizableToolBar.h"
#include "ui/EmptyListHint.h"
#include "ui/ListWindowTools.h"
#include "ui/OriginDetailsController.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QVBoxLayout>

ContentView::ContentView(QWidget* parent)
    : QMainWindow(parent), m_providerer(new Provener(this)), m_list(new RecordListView),
      m_toolBar(new CustomizableToolBar(QStringLiteral("ContentView.toolbar"), this)), m_count(new QLabel),
      m_busy(new QProgressBar), m_status(new QLabel), m_problem(new QLabel)
{
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    auto* countLine = new QHBoxLayout;
    countLine->addStretch();
    countLine->addWidget(m_count);
    countLine->addStretch();
    layout->addLayout(countLine);

    // Shown only while a load runs.
    auto* statusLine = new QHBoxLayout;
    m_busy->setRange(0, 0);
    m_busy->setMaximumWidth(160);
    m_busy->setTextVisible(false);
    m_status->setText(tr("Loading applications…"));
    statusLine->addStretch();
    statusLine->addWidget(m_busy);
    statusLine->addWidget(m_status);
    statusLine->addStretch();
    layout->addLayout(statusLine);
    // Shown after a load whose application search went wrong.
    m_problem->setTextFormat(Qt::PlainText);
    m_problem->setWordWrap(true);
    m_problem->setAlignment(Qt::AlignHCenter);
    layout->addWidget(m_problem);

    m_list->setModel(m_providerer);
    m_list->setItemDelegate(new MessageRow(m_list));
    layout->addWidget(m_list);
    setCentralWidget(central);

    QAction* load = m_toolBar->addItem(QStringLiteral("getapps"), tr("Load Apps"), tr("Load app details"),
                                       QStringLiteral("view-refresh"), QStyle::SP_BrowserReload);
    load->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    load->setShortcutContext(Qt::WindowShortcut);
    connect(load, &QAction::triggered, m_providerer, &Provener::loadApps);

    QAction* crawl =
        m_toolBar->addItem(QStringLiteral("getfolder"), tr("Crawl Folder"), tr("Check folder contents"),
                           QStringLiteral("folder"), QStyle::SP_DirIcon);
    connect(crawl, &QAction::triggered, this,
            [this] { emit openWindowRequested(QStringLiteral("crawler")); });

    QAction* drop = m_toolBar->addItem(QStringLiteral("getfiles"), tr("Drop Files"), tr("Check file details"),
                                       QStringLiteral("edit-copy"), QStyle::SP_FileIcon);
    connect(drop, &QAction::triggered, this,
            [this] { emit openWindowRequested(QStringLiteral("dropview")); });

    QAction* write =
        m_toolBar->addItem(QStringLiteral("writecsv"), tr("Write CSV"), tr("Write app details to CSV file"),
                           QStringLiteral("document-save"), QStyle::SP_DialogSaveButton);
    write->setShortcut(QKeySequence::Save);
    connect(write, &QAction::triggered, this, &ContentView::saveCSV);
    addToolBar(m_toolBar->savedArea(), m_toolBar);

    // Find bar, row menu, row drag and empty-list hint: each out of the way until wanted.
    const ListWindowTools tools = ListWindowTools::attach(
        this, m_list, tr("Press Load Apps to list the installed applications"), m_providerer, false);
    EmptyListHint* hint = tools.hint;
    // After a load that listed nothing: whether anything was found at all.
    connect(m_providerer, &Provener::loadingChanged, hint, [this, hint](bool loading) {
        const qsizetype found = m_providerer->applicationsExamined();
        hint->setHint(loading || found == 0 ? QString()
                      : found == 1          ? tr("1 application was examined; it carries neither attribute.")
                                   : tr("%1 applications were examined; none carries either attribute.")
                                         .arg(QLocale().toString(found)));
    });

    connect(m_providerer, &Provener::proverListChanged, this, &ContentView::updateCount);
    connect(m_providerer, &Provener::loadingChanged, this, &ContentView::updateStatus);
    connect(m_providerer, &Provener::searchProblemChanged, this, &ContentView::updateStatus);
    tools.follow(m_list);
    updateCount();
    updateStatus();
    resize(900, 560);
}

QString ContentView::countText() const
{
    return m_count->text();
}

QString ContentView::statusText() const
{
    if (m_status->isVisibleTo(this))
        return m_status->text();
    return m_problem->isVisibleTo(this) ? m_problem->text() : QString();
}

void ContentView::closeEvent(QCloseEvent* event)
{
    m_toolBar->rememberArea();
    QMainWindow::closeEvent(event);
}

void ContentView::updateCount()
{
    m_count->setText(tr("%1 apps found").arg(m_providerer->proverList().size()));
}

void ContentView::updateStatus()
{
    const bool loading = m_providerer->isLoading();
    QStringList problems;
    if (!loading && !m_providerer->searchFailure().isEmpty())
        problems << tr("The application search failed: %1. The list is incomplete.")
                        .arg(RawText::display(m_providerer->searchFailure()));
    if (!loading && m_providerer->unreadableSearchResults() > 0)
        problems << tr("%n application path(s) could not be read and are not listed.", nullptr,
                       int(m_providerer->unreadableSearchResults()));
    m_busy->setVisible(loading);
    m_status->setVisible(loading);
    m_problem->setText(problems.join(QLatin1Char(' ')));
    m_problem->setVisible(!problems.isEmpty());
}

void ContentView::saveCSV()
{
    CsvSaveDialog::open(
        this, Provener::proposedCsvName(),
        [model = m_providerer](const QString& destination) { return model->writeCSV(destination); });
}
