#include "crawl/CrawlerView.h"

#include "core/EvidenceAccess.h"
#include "core/SidecarPreference.h"
#include "crawl/Crawler.h"
#include "crawl/FileRow.h"
#include "crawl/ImagePasswordPrompt.h"
#include "ui/CsvSaveDialog.h"
#include "ui/CustomizableToolBar.h"
#include "ui/EmptyListHint.h"
#include "ui/ListWindowTools.h"
#include "ui/NameOnlyIconProvider.h"
#include "ui/OriginDetailsController.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

CrawlerView::CrawlerView(QWidget* parent)
    : QMainWindow(parent), m_crawler(new Crawler(this)),
      m_toolBar(new CustomizableToolBar(QStringLiteral("ContentView.toolbar"), this)),
      m_showQuarantine(new QCheckBox(tr("Show Quarantine"))), m_filePath(new QLabel), m_count(new QLabel),
      m_status(new QLabel), m_stop(new QPushButton(tr("Stop"))), m_list(new RecordListView),
      m_statusTimer(new QTimer(this)), m_crawlMenu(new QMenu(tr("&Crawl"), this)),
      m_readSidecars(new QAction(tr("Read AppleDouble Sidecars"), this)),
      m_stopAction(new QAction(tr("Stop"), this))
{
    setWindowTitle(tr("Crawl Folder"));
    // Read when the window opens and never written: the switch's changes last as long as it.
    m_showQuarantine->setChecked(QSettings().value(QStringLiteral("showQuarCrawler"), false).toBool());

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);

    const int margin = style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing);
    auto* options = new QHBoxLayout;
    options->addStretch();
    auto* toggleBox = new QHBoxLayout;
    toggleBox->setContentsMargins(margin, margin, margin, margin);
    toggleBox->addWidget(m_showQuarantine);
    options->addLayout(toggleBox);
    auto* pathBox = new QHBoxLayout;
    pathBox->setContentsMargins(margin, margin, margin, margin);
    m_filePath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_filePath->setTextFormat(Qt::PlainText);
    pathBox->addWidget(m_filePath);
    options->addLayout(pathBox);
    options->addWidget(m_count);
    options->addStretch();
    layout->addLayout(options);

    // Beyond the options line: a long crawl says how far it is, and can be stopped.
    auto* status = new QHBoxLayout;
    status->addStretch();
    // Notes of a partial crawl can be long: they wrap rather than widen the window.
    m_status->setWordWrap(true);
    status->addWidget(m_status, 1);
    status->addWidget(m_stop);
    // The list does not jump when the button goes at the end of a crawl.
    QSizePolicy keepPlace = m_stop->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_stop->setSizePolicy(keepPlace);
    status->addStretch();
    layout->addLayout(status);

    m_list->setModel(m_crawler);
    m_list->setItemDelegate(new FileRow(m_list, false));
    layout->addWidget(m_list);
    setCentralWidget(central);

    QAction* load =
        m_toolBar->addItem(QStringLiteral("loadfolder"), tr("Load Folder"), tr("Load details from a folder"),
                           QStringLiteral("view-refresh"), QStyle::SP_BrowserReload);
    load->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    load->setShortcutContext(Qt::WindowShortcut);
    connect(load, &QAction::triggered, this, &CrawlerView::chooseFolder);
    QAction* write = m_toolBar->addItem(QStringLiteral("writefolder"), tr("Save Folder to CSV"),
                                        tr("Write results to a CSV file"), QStringLiteral("document-save"),
                                        QStyle::SP_DialogSaveButton);
    write->setShortcut(QKeySequence::Save);
    connect(write, &QAction::triggered, this, &CrawlerView::saveCSV);
    addToolBar(m_toolBar->savedArea(), m_toolBar);

    // Out of the options line: a preference, kept when changed, for the next crawl and drop.
    m_readSidecars->setCheckable(true);
    m_readSidecars->setChecked(SidecarPreference::enabled());
    m_readSidecars->setStatusTip(tr("Take the attributes a file lacks from its AppleDouble file (._name), "
                                    "and do not list those files themselves"));
    connect(m_readSidecars, &QAction::toggled, this, [](bool on) { SidecarPreference::setEnabled(on); });
    m_stopAction->setShortcut(QKeySequence(Qt::Key_Escape));
    m_stopAction->setShortcutContext(Qt::WindowShortcut);
    m_stopAction->setEnabled(false);
    connect(m_stopAction, &QAction::triggered, m_crawler, &Crawler::stop);
    addAction(m_stopAction);
    m_crawlMenu->addAction(m_stopAction);
    m_crawlMenu->addSeparator();
    m_crawlMenu->addAction(m_readSidecars);
    addOpenImageItem();
    menuBar()->addMenu(m_crawlMenu);
    // Find bar, row menu, row drag and empty-list hint: each out of the way until wanted.
    const ListWindowTools tools = ListWindowTools::attach(this, m_list, tr("Choose a folder with Load Folder"), m_crawler, true);
    EmptyListHint* hint = tools.hint;
    connect(m_crawler, &Crawler::statusChanged, hint, [this, hint] { hint->setHint(emptyListHint()); });

    connect(m_crawler, &Crawler::filePathChanged, m_filePath, &QLabel::setText);
    connect(m_crawler, &Crawler::rowsInserted, this, &CrawlerView::updateCount);
    connect(m_crawler, &Crawler::modelReset, this, &CrawlerView::updateCount);
    connect(m_crawler, &Crawler::statusChanged, this, &CrawlerView::updateStatus);
    connect(m_crawler, &Crawler::theCountChanged, this, &CrawlerView::updateStatus);
    connect(m_stop, &QPushButton::clicked, m_crawler, &Crawler::stop);
    // The counters move on the walk's threads; show them a few times a second.
    m_statusTimer->setInterval(250);
    connect(m_statusTimer, &QTimer::timeout, this, &CrawlerView::updateStatus);

    OriginDetailsController* details = tools.details;
    details->setAnchor([crawler = m_crawler] { return QFile::encodeName(crawler->filePath()); });
    details->setSidecars([this] { return readSidecars(); });
    details->setImageSource([crawler = m_crawler] {
        return OriginDetailsController::ImageSource{crawler->rawImage(), crawler->imagePassword(),
                                                    crawler->imageOrigins()};
    });
    tools.follow(m_list);

    updateCount();
    updateStatus();
    resize(1000, 600);
}

bool CrawlerView::showQuarantine() const
{
    return m_showQuarantine->isChecked();
}

void CrawlerView::setShowQuarantine(bool show)
{
    m_showQuarantine->setChecked(show);
}

QString CrawlerView::filePathText() const
{
    return m_filePath->text();
}

QString CrawlerView::countText() const
{
    return m_count->text();
}

QString CrawlerView::statusText() const
{
    return m_status->isHidden() ? QString() : m_status->text();
}

QFileDialog* CrawlerView::chooseFolder()
{
    // Free-standing and not modal, like the save dialog; it goes when the window goes.
    auto* dialog = new QFileDialog(nullptr, tr("Load Folder"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::NonModal);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFilter(QDir::AllDirs | QDir::Hidden | QDir::NoDotAndDotDot);
    NameOnlyIconProvider::useIn(dialog);
    // Where the last crawl was, to go up or down from there.
    if (!m_crawler->filePath().isEmpty())
        dialog->setDirectory(m_crawler->filePath());
    connect(this, &QObject::destroyed, dialog, &QWidget::close);
    // The switch as it is now: changing it while the dialog is up does not change this crawl.
    const bool show = showQuarantine();
    const bool sidecars = readSidecars();
    connect(dialog, &QFileDialog::fileSelected, m_crawler,
            [crawler = m_crawler, show, sidecars](const QString& folder) {
                if (!folder.isEmpty())
                    crawler->startCrawl(folder, show, 0, sidecars);
            });
    dialog->show();
    return dialog;
}

void CrawlerView::crawlFolder(const QByteArray& rawFolder)
{
    m_crawler->startCrawl(rawFolder, showQuarantine(), 0, readSidecars());
}

void CrawlerView::addOpenImageItem()
{
    // In the menu, not the toolbar: the toolbar's items are as specified.
    auto* open = new QAction(tr("Open Disk Image…"), this);
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    open->setShortcutContext(Qt::WindowShortcut);
    open->setStatusTip(tr("Crawl the volumes of a disk image (raw, E01, VMDK, VHD) without mounting it"));
    connect(open, &QAction::triggered, this, &CrawlerView::chooseImage);
    m_crawlMenu->insertAction(m_stopAction, open);
    addAction(open); // its key works while the menu bar is elsewhere
}

QFileDialog* CrawlerView::chooseImage()
{
    auto* dialog = new QFileDialog(nullptr, tr("Open Disk Image"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::NonModal);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setFilter(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    NameOnlyIconProvider::useIn(dialog);
    connect(this, &QObject::destroyed, dialog, &QWidget::close);
    const bool show = showQuarantine();
    connect(dialog, &QFileDialog::fileSelected, this, [this, show](const QString& image) {
        if (!image.isEmpty())
            openImage(QFile::encodeName(image), show);
    });
    dialog->show();
    return dialog;
}

void CrawlerView::crawlImage(const QByteArray& rawImage)
{
    openImage(rawImage, showQuarantine());
}

QDialog* CrawlerView::openImage(const QByteArray& rawImage, bool show)
{
    return ImagePasswordPrompt::crawl(m_crawler, this, rawImage, show, readSidecars());
}

void CrawlerView::saveCSV()
{
    if (!m_crawler->isRunning()) {
        openSaveDialog();
        return;
    }
    // A running crawl's list is not the folder's: saving it is a choice made knowingly.
    auto* question = new QMessageBox(QMessageBox::Question, tr("Crawl Still Running"),
                                     tr("The crawl is still running: save the %1 found so far?")
                                         .arg(rowsText(m_crawler->crawlList().size())),
                                     QMessageBox::Save | QMessageBox::Cancel, this);
    question->setAttribute(Qt::WA_DeleteOnClose);
    question->setDefaultButton(QMessageBox::Cancel);
    connect(question->button(QMessageBox::Save), &QAbstractButton::clicked, this,
            &CrawlerView::openSaveDialog);
    question->open();
}

void CrawlerView::openSaveDialog()
{
    CsvSaveDialog::open(this, m_crawler->proposedCsvName(), [this](const QString& destination) {
        const bool partial = m_crawler->isRunning();
        const qsizetype rows = m_crawler->crawlList().size();
        const CsvWriteResult result = m_crawler->writeCSV(destination);
        if (partial && result.status == CsvWriteResult::Written) {
            auto* note =
                new QMessageBox(QMessageBox::Information, tr("Partial List Saved"),
                                tr("%1 holds a partial list: the %2 found while the crawl was still running.")
                                    .arg(QDir::toNativeSeparators(destination), rowsText(rows)),
                                QMessageBox::Ok, this);
            note->setAttribute(Qt::WA_DeleteOnClose);
            note->open();
        }
        return result;
    });
}

QString CrawlerView::emptyListHint() const
{
    switch (m_crawler->status()) {
    case Crawler::Idle:
        return tr("Choose a folder with Load Folder");
    case Crawler::Finished:
    case Crawler::Stopped:
        break;
    default:
        return {}; // the status line says how far it is, or why it failed
    }
    const qint64 examined = m_crawler->entriesExamined();
    if (examined == 0)
        return tr("The folder is empty.");
    QString hint = examinedText() + tr(": none carries these attributes.");
    if (const qint64 quarantined = m_crawler->quarantineOnlyPassedOver())
        hint += QLatin1Char(' ') + tr("Show Quarantine would list %1 more (load the folder again).")
                                       .arg(QLocale().toString(quarantined));
    return hint;
}

QString CrawlerView::examinedText() const
{
    return counted(m_crawler->entriesExamined(), QT_TR_NOOP("%1 entry examined"),
                   QT_TR_NOOP("%1 entries examined"));
}

QString CrawlerView::rowsText(qint64 rows) const
{
    return counted(rows, QT_TR_NOOP("%1 row"), QT_TR_NOOP("%1 rows"));
}

QString CrawlerView::counted(qint64 count, const char* one, const char* many) const
{
    return tr(count == 1 ? one : many).arg(QLocale().toString(count));
}

bool CrawlerView::readSidecars() const
{
    return m_readSidecars->isChecked();
}

void CrawlerView::showEvent(QShowEvent* event)
{
    // The application adds its menus (File, Edit, Help) after this window is made; this
    // window's own menu goes before Help.
    QMenuBar* bar = menuBar();
    QAction* own = m_crawlMenu->menuAction();
    QAction* help = nullptr;
    for (QAction* action : bar->actions())
        if (action->menu() && action->menu()->objectName() == QLatin1String("helpMenu"))
            help = action;
    bar->removeAction(own);
    bar->insertAction(help, own);
    QMainWindow::showEvent(event);
}

void CrawlerView::closeEvent(QCloseEvent* event)
{
    m_toolBar->rememberArea();
    QMainWindow::closeEvent(event);
}

void CrawlerView::updateCount()
{
    m_count->setText(tr("%1 files found").arg(m_crawler->crawlList().size()));
}

void CrawlerView::updateStatus()
{
    const Crawler::Status status = m_crawler->status();
    const bool running = m_crawler->isRunning();
    if (running != m_statusTimer->isActive())
        running ? m_statusTimer->start() : m_statusTimer->stop();
    m_stop->setVisible(running);
    m_stop->setEnabled(status == Crawler::Running);
    m_stopAction->setEnabled(status == Crawler::Running);
    m_status->setHidden(status == Crawler::Idle);

    QStringList parts{examinedText()};
    // Every entry is accounted for: the links passed over, and what could not be read, which
    // the list may lack.
    if (const qint64 links = m_crawler->linksPassedOver())
        parts.append(counted(links, QT_TR_NOOP("%1 symbolic link not followed"),
                             QT_TR_NOOP("%1 symbolic links not followed")));
    // An image crawl that ended says what it could not read as the command line does.
    if (const QStringList imageNotes = m_crawler->imageNotes(); !imageNotes.isEmpty()) {
        parts += imageNotes;
    } else {
        if (const qint64 folders = m_crawler->unreadableFolders())
            parts.append(counted(folders, QT_TR_NOOP("%1 folder could not be read"),
                                 QT_TR_NOOP("%1 folders could not be read")));
        if (const qint64 entries = m_crawler->unreadableEntries())
            parts.append(counted(entries, QT_TR_NOOP("%1 entry could not be read"),
                                 QT_TR_NOOP("%1 entries could not be read")));
    }
    // Read as a user the kernel lets not keep them, the evidence's access times moved.
    if (EvidenceAccess::accessTimesMayChange())
        parts.append(tr("access times may have changed (%1)").arg(EvidenceAccess::accessTimeCause()));
    parts.append(
        tr("%1 s").arg(QLocale().toString(double(m_crawler->elapsedMilliseconds()) / 1000.0, 'f', 1)));
    const QString summary = parts.join(QStringLiteral(" · "));
    switch (status) {
    case Crawler::Idle:
        m_status->clear();
        break;
    case Crawler::Running:
        m_status->setText(tr("Crawling…") + QLatin1Char(' ') + summary);
        break;
    case Crawler::Stopping:
        m_status->setText(tr("Stopping…") + QLatin1Char(' ') + summary);
        break;
    case Crawler::Finished:
        m_status->setText(tr("Finished:") + QLatin1Char(' ') + summary);
        break;
    case Crawler::Stopped:
        m_status->setText(tr("Stopped:") + QLatin1Char(' ') + summary);
        break;
    case Crawler::Unreadable:
        m_status->setText((m_crawler->crawlsImage() ? tr("The disk image could not be read: %1")
                                                    : tr("The folder could not be read: %1"))
                              .arg(m_crawler->failure()));
        break;
    }
}
