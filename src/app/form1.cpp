#include "app/form1.h"

#include "app/form2.h"
#include "app/form3.h"
#include "app/pictures_window.h"
#include "app/startup.h"
#include "app/window_look.h"
#include "base/conversions.h"
#include "base/error_report.h"
#include "base/globals.h"
#include "base/leftovers.h"
#include "base/prompts.h"
#include "base/settings_store.h"
#include "base/waiting.h"
#include "build_config.h"
#include "keywords/keyword_list.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStyleOptionViewItem>
#include <QTableView>

// The icon lives in the GUI library's resources, which a static library must register itself.
static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

using Look::px;
using Look::twips;

// The height of a row of text in `view`, as a list of single lines lays it out.
int rowHeight(const QAbstractItemView* view) {
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.font = view->font();
    option.fontMetrics = view->fontMetrics();
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("Xg");
    return view->style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), view).height();
}

} // namespace

// The progress bar shows its text exactly as given. QProgressBar's own text is a format in which
// "%p", "%v" and "%m" are replaced, and Qt 6.4 has no way to write a plain "%" in one, so a keyword
// such as "100%" would not show as typed.
class TextProgressBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;
    QString text() const override { return shown_; }
    void setText(const QString& text) {
        if (text == shown_)
            return;
        shown_ = text;
        update();
    }

private:
    QString shown_;
};

Form1::Form1(Prompts& prompts, Options options)
    : prompts_(prompts)
    , options_(std::move(options))
    , keywords_(std::make_unique<KeywordList>()) {
    initResources();
    if (!options_.randomPercent)
        options_.randomPercent = [] { return QRandomGenerator::global()->bounded(1, 101); };
    if (options_.appFolder.isEmpty())
        options_.appFolder = QCoreApplication::applicationDirPath();
    buildControls();
    Form_Load();
}

Form1::~Form1() {
    // The dialogs have no owner window; they end with the main window.
    delete form2_.data();
    delete form3_.data();
    delete pictures_.data();
}

void Form1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setFixedSize(px(8040), px(9195));
    setFont(Look::arial(9));
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setMouseTracking(true);
    Main::CentreOnScreen(this);

    auto button = [&](const char* name, const QString& caption, QRect geometry, QWidget* parent,
                      void (Form1::*handler)()) {
        auto* b = Look::pushButton(parent, name, caption, geometry, 11.25, this);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    auto frame = [&](const char* name, const QString& caption, QRect geometry) {
        return Look::place(new QGroupBox(caption, this), name, geometry, this);
    };
    auto field = [&](const char* name, QRect geometry, QWidget* parent) {
        return Look::place(new QLineEdit(parent), name, geometry, this);
    };

    button("PushButton11",
           QStringLiteral("Getting Started / Enter Your RapidAPI/contextualwebsearch API Key"),
           twips(120, 120, 7800, 405), this, &Form1::PushButton11_Click);

    // A table of one column under its header, without grid or row numbers. A table view keeps no
    // record of its own per row and takes added rows without laying out the rows it had, so a list
    // of a million entries grows in steps without the window stopping to answer (a tree view laid
    // out every row again after each step).
    ListView1 = new QTableView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(twips(120, 630, 7800, 1800));
    ListView1->setShowGrid(false);
    ListView1->setWordWrap(false);
    ListView1->setTabKeyNavigation(false);
    ListView1->setCornerButtonEnabled(false);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListView1->verticalHeader()->setMinimumSectionSize(1);
    ListView1->verticalHeader()->setDefaultSectionSize(rowHeight(ListView1));
    ListView1->horizontalHeader()->setHighlightSections(false);
    ListView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setAcceptDrops(false);
    ListView1->horizontalHeader()->setStretchLastSection(false);
    ListView1->setToolTip(
        QStringLiteral("Drag and drop files here. Double-click item to remove it. Move | line to "
                       "right and out of window to reveal full names."));
    ListView1->setMouseTracking(true);
    ListView1->viewport()->setMouseTracking(true);
    ListView1->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);

    button("PushButton20", QStringLiteral("Add One Keyword To List"), twips(120, 2520, 3840, 405), this,
           &Form1::PushButton20_Click);
    button("PushButton5", QStringLiteral("Load Sample/Example Keywords"), twips(4080, 2520, 3840, 405), this,
           &Form1::PushButton5_Click);
    button("PushButton3", QStringLiteral("Load List From Text File"), twips(120, 3030, 3840, 405), this,
           &Form1::PushButton3_Click);
    button("PushButton7", QStringLiteral("Save List To Text File"), twips(4080, 3030, 3840, 405), this,
           &Form1::PushButton7_Click);
    button("PushButton13", QStringLiteral("Load List From Excel File"), twips(120, 3540, 3840, 405), this,
           &Form1::PushButton13_Click);
    button("PushButton14", QStringLiteral("Save List To Excel File"), twips(4080, 3540, 3840, 405), this,
           &Form1::PushButton14_Click);
    button("PushButton9", QStringLiteral("Remove Keywords Containing X"), twips(120, 4050, 3840, 405), this,
           &Form1::PushButton9_Click);
    button("PushButton10", QStringLiteral("Remove Keywords Not Cont. X"), twips(4080, 4050, 3840, 405), this,
           &Form1::PushButton10_Click);
    button("PushButton4", QStringLiteral("Help"), twips(120, 4560, 3840, 405), this,
           &Form1::PushButton4_Click);
    button("PushButton1", QStringLiteral("Clear List"), twips(4080, 4560, 3840, 405), this,
           &Form1::PushButton1_Click);

    Frame2 = frame("Frame2", QStringLiteral("How many files would you like to download per keyword?"),
                   twips(120, 5010, 7800, 810));
    Text2 = field("Text2", twips(240, 300, 6615, 345), Frame2);
    button("PushButton15", QStringLiteral("?"), twips(6960, 300, 600, 345), Frame2,
           &Form1::PushButton15_Click);

    Frame3 =
        frame("Frame3", QStringLiteral("What position would you start from?"), twips(120, 5880, 7800, 810));
    Text3 = field("Text3", twips(240, 300, 6615, 345), Frame3);
    button("PushButton6", QStringLiteral("?"), twips(6960, 300, 600, 345), Frame3, &Form1::PushButton6_Click);

    button("PushButton8", QStringLiteral("Filter: Download By Certain Filesize Or Image Size"),
           twips(120, 6790, 7800, 405), this, &Form1::PushButton8_Click);

    Frame1 = frame("Frame1", QStringLiteral("Save Results To This Folder"), twips(120, 7250, 7800, 810));
    Text1 = field("Text1", twips(240, 300, 6630, 345), Frame1);
    button("PushButton12", QStringLiteral("..."), twips(6960, 300, 600, 345), Frame1,
           &Form1::PushButton12_Click);

    button("PushButton2", QStringLiteral("Start Downloading"), twips(120, 8170, 7800, 405), this,
           &Form1::PushButton2_Click);

    ProgressBar1 = new TextProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(twips(120, 8690, 7800, 405));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(true);
    ProgressBar1->setAlignment(Qt::AlignCenter);
    setProgressText(QStringLiteral("Progress Bar"));

    // Each field stores its whole text on every change, the program's own changes included.
    connect(Text1, &QLineEdit::textChanged, this,
            [](const QString& t) { SettingsStore::write(SettingKey::SaveFolder, t); });
    connect(Text2, &QLineEdit::textChanged, this,
            [](const QString& t) { SettingsStore::write(SettingKey::PicturesPerKeyword, t); });
    connect(Text3, &QLineEdit::textChanged, this,
            [](const QString& t) { SettingsStore::write(SettingKey::StartPosition, t); });
}

void Form1::Form_Load() {
    ErrorTrap trap(prompts_, QStringLiteral("Form1.Form_Load"));
    // Statement 100 applies an optional look-and-feel skin of the original desktop build; this build
    // has none, so the window keeps its designed white background.
    Main::LoadCommonLook(trap, this, hand_, options_.appFolder, false, [] {
        Globals::setApplicationTitle(Globals::applicationTitleFrom(Globals::DisplayName));
    });
    trap(108, [&] {
        if (options_.randomPercent() == 7)
            prompts_.openUrl(QString::fromLatin1(BuildConfig::HomePage));
    });
    trap(128, [&] {
        if (Main::FirstTime()) {
            Main::ChooseFirstSource();
            PushButton4_Click();
        }
    });
    trap(130, [&] {
        ListView1->setModel(keywords_.get());
        keywords_->setHeaderData(0, Qt::Horizontal, QStringLiteral("Keyword/s"));
    });
    trap(132, [&] { ListView1->setColumnWidth(0, px(7000)); });
    trap(134, [&] { Text1->setText(SettingsStore::read(SettingKey::SaveFolder)); });
    trap(136, [&] { Text2->setText(SettingsStore::read(SettingKey::PicturesPerKeyword)); });
    trap(138, [&] { Text3->setText(SettingsStore::read(SettingKey::StartPosition)); });
    restoreFilterDialog(trap);
    // What an earlier run that was killed left behind: its partial download in the save folder and
    // its private folder in the temporary location. Nothing is reported either way.
    Main::RemoveLeftovers(Text1->text(), QDir::tempPath());
}

void Form1::restoreFilterDialog(ErrorTrap& trap) {
    // The first touch of the filter dialog creates it hidden, and its own load step fills its
    // controls; they are then filled again from the store, statements 140 to 202. A fresh profile
    // thus receives the stored defaults on the first start.
    if (!form2_)
        form2_ = new Form2(prompts_, this, options_.appFolder);
    form2_->restoreControls(trap, Form2::Restorer::StartUp);
}

void Form1::setPointer(int value) {
    hand_.apply(this, value);
}

int Form1::progressValue() const {
    return ProgressBar1->value();
}

void Form1::setProgressValue(int value) {
    ProgressBar1->setValue(value);
}

void Form1::setProgressText(const QString& text) {
    progressText_ = text;
    ProgressBar1->setText(text);
}

QString Form1::helpText() {
    return QStringLiteral("This software uses ") + QString::fromLatin1(BuildConfig::ServiceSite) +
           QStringLiteral(
               " as the backbone for finding images. This website was choosen because it is favorable "
               "to automated softwares like this.") +
           QStringLiteral("\r\n\r\n") +
           QStringLiteral(
               "Unfortunately, Google Images is not so Google Images was not used as the backbone for "
               "this software.") +
           QStringLiteral("\r\n\r\n") + QStringLiteral("Questions? Please contact Team Kestrelon at ") +
           QString::fromLatin1(BuildConfig::ContactPage);
}

QString Form1::countHelpText() {
    return QStringLiteral("This is the number of files to download per keyword.") + QStringLiteral("\r\n\r") +
           QStringLiteral(
               "For example, if you have 3 keyword item in the list above and the number 5 here then "
               "15 files total will be downloaded.") +
           QStringLiteral("\r\n\r\n") + QStringLiteral("Software has a limit of 50 pictures per keyword.");
}

QString Form1::startHelpText() {
    return QStringLiteral("Increasing this value let You to find more rare or interesting pictures.");
}

void Form1::checkNumberField(QLineEdit* box, const QString& belowReplacement) {
    if (Conversions::IsNumeric(box->text())) {
        if (Conversions::ToDouble(box->text()) > 50)
            box->setText(QStringLiteral("50"));
        if (!(Conversions::ToDouble(box->text()) > 0))
            box->setText(belowReplacement);
        return;
    }
    checkingNumber_ = true;
    prompts_.tell(QStringLiteral("Must be numeric."));
    box->setFocus(Qt::OtherFocusReason);
    checkingNumber_ = false;
}

bool Form1::event(QEvent* e) {
    // The hover rule over the window's own background.
    if ((e->type() == QEvent::Enter || e->type() == QEvent::MouseMove) && hand_.value() != Hourglass)
        setPointer(Default);
    return QWidget::event(e);
}

bool Form1::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove:
    case QEvent::HoverMove:
        // The hover rule: the hand over push buttons, the default pointer over the background, the
        // frames, the list and the fields; the hourglass stays while the program is busy.
        if (hand_.value() != Hourglass)
            setPointer(qobject_cast<QPushButton*>(watched) ? Hand : Default);
        break;
    case QEvent::FocusOut: {
        // Moving to another application or to a box the program shows is no leaving of the field.
        const auto reason = static_cast<QFocusEvent*>(e)->reason();
        if (checkingNumber_ || Lifetime::ending() || reason == Qt::ActiveWindowFocusReason ||
            reason == Qt::PopupFocusReason)
            break;
        if (watched == Text2)
            checkNumberField(Text2, QStringLiteral("5"));
        else if (watched == Text3)
            checkNumberField(Text3, QStringLiteral("1"));
        break;
    }
    case QEvent::MouseButtonPress:
        // A click below the last entry leaves the selected entry selected (the list view would
        // clear its selection), so that a double-click there still removes it.
        if (watched == ListView1->viewport() &&
            !ListView1->indexAt(static_cast<QMouseEvent*>(e)->position().toPoint()).isValid()) {
            ListView1->setFocus(Qt::MouseFocusReason);
            return true;
        }
        break;
    case QEvent::MouseButtonDblClick:
        // A double-click anywhere in the list removes the selected entry, also below the last one.
        if (watched == ListView1->viewport()) {
            ListView1_DblClick();
            if (!ListView1->indexAt(static_cast<QMouseEvent*>(e)->position().toPoint()).isValid())
                return true;
        }
        break;
    case QEvent::KeyPress:
        if (watched == ListView1)
            ListView1_KeyDown(static_cast<QKeyEvent*>(e)->key());
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, e);
}

void Form1::closeEvent(QCloseEvent* e) {
    // Closing the main window ends the program at once, whatever is running: every wait unwinds,
    // running tools are killed, and the hidden dialogs go with it.
    e->accept();
    Lifetime::end();
    QCoreApplication::exit(0);
}

void Form1::PushButton4_Click() {
    prompts_.tell(helpText());
}

void Form1::PushButton15_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton15_Click"));
    trap(100, [&] { prompts_.tell(countHelpText()); });
}

void Form1::PushButton6_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton6_Click"));
    trap(100, [&] { prompts_.tell(startHelpText()); });
}

void Form1::PushButton8_Click() {
    // The filter dialog in place of the main window; closing it unloads it and brings this window
    // back, and the next opening loads it anew.
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton8_Click"));
    trap(100, [&] {
        if (!form2_ || form2_->unloaded())
            form2_ = new Form2(prompts_, this, options_.appFolder);
        form2_->show();
    });
    trap(102, [&] { hide(); });
}

void Form1::PushButton11_Click() {
    // The API key dialog in place of the main window. Its "Close" only hides it, so it keeps its
    // field; its close box unloads it, and the next opening loads it anew.
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton11_Click"));
    trap(100, [&] {
        if (!form3_ || form3_->unloaded())
            form3_ = new Form3(prompts_, this, options_.appFolder);
        form3_->show();
    });
    trap(102, [&] { hide(); });
}
