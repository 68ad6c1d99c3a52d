#include "app/form3.h"

#include "app/window_look.h"
#include "base/error_report.h"
#include "base/prompts.h"
#include "base/settings_store.h"
#include "base/surface.h"
#include "base/waiting.h"
#include "fetch/search_request.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using Look::twips;

const QString Form3::KeyPage = QStringLiteral("https://rapidapi.com/contextualwebsearch/api/web-search");
const QString Form3::SampleKey = QStringLiteral("q7m2x9k4w1c8r5t0b3n6h2j9d4f7g1l5p8s3v0z6y2e9a4u7i1");

Form3::Form3(Prompts& prompts, QWidget* mainWindow, const QString& appFolder)
    : prompts_(prompts)
    , mainWindow_(mainWindow)
    , appFolder_(appFolder) {
    buildControls();
    Form_Load();
    Main::CentreOnScreen(this);
}

Form3::~Form3() = default;

void Form3::buildControls() {
    setObjectName(QStringLiteral("Form3"));
    // The designed caption; the load step replaces it with the program's name.
    setWindowTitle(QStringLiteral("Form3"));
    Look::makeFixedWindow(this, 8040, 4245);

    auto frame = [&](const char* name, const QString& caption, QRect geometry) {
        return Look::place(new QGroupBox(caption, this), name, geometry, this);
    };
    auto button = [&](const char* name, const QString& caption, QRect geometry, QWidget* parent,
                      void (Form3::*handler)(), double points) {
        auto* b = Look::pushButton(parent, name, caption, geometry, points, this);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };

    // The key field comes first in the focus order: the dialog opens with the key selected.
    Frame2 = frame("Frame2", QStringLiteral("Enter Your RapidAPI Key"), twips(120, 2580, 7800, 750));
    auto* label3 = new QLabel(QStringLiteral("API Key"), Frame2);
    label3->setObjectName(QStringLiteral("Label3"));
    label3->setGeometry(twips(120, 330, 840, 300));
    label3->setAttribute(Qt::WA_NoMousePropagation);
    Text1 = new QLineEdit(QStringLiteral("Text1"), Frame2);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips(1000, 300, 5960, 345));
    Text1->setAttribute(Qt::WA_NoMousePropagation);
    Text1->installEventFilter(this);
    button("PushButton4", QStringLiteral("?"), twips(7080, 300, 600, 345), Frame2, &Form3::PushButton4_Click,
           9);

    Label1 = new QLabel(
        QStringLiteral("This software uses the RapidAPI/contextualwebsearch as the backbone for image "
                       "search. Therefore you must obtain your own RapidAPI/contextualwebsearch key "
                       "to use this software."),
        this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twips(0, 0, 8040, 900));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setContentsMargins(Look::px(120), 0, Look::px(120), 0);
    Label1->setAutoFillBackground(true);
    Label1->setAttribute(Qt::WA_NoMousePropagation);

    Frame1 = frame("Frame1", QStringLiteral("How To Get Your API Key"), twips(120, 960, 7800, 750));
    button("PushButton2", QStringLiteral("Click Here For Instructions"), twips(120, 300, 7560, 345), Frame1,
           &Form3::PushButton2_Click, 9);

    Frame3 = frame("Frame3", QStringLiteral("Get Your RapidAPI Key"), twips(120, 1770, 7800, 750));
    button("PushButton1", QStringLiteral("Open ") + KeyPage, twips(120, 300, 7560, 345), Frame3,
           &Form3::PushButton1_Click, 9);

    button("PushButton3", QStringLiteral("Test API Key"), twips(120, 3450, 3840, 405), this,
           &Form3::PushButton3_Click, 11.25);
    button("PushButton6", QStringLiteral("Close"), twips(4080, 3450, 3840, 405), this,
           &Form3::PushButton6_Click, 11.25);

    // The key as typed or pasted, blanks included, on every change.
    connect(Text1, &QLineEdit::textChanged, this,
            [](const QString& text) { SettingsStore::write(SettingKey::ApiKey, text); });
}

void Form3::Form_Load() {
    ErrorTrap trap(prompts_, QStringLiteral("Form3.Form_Load"));
    Main::LoadCommonLook(trap, this, hand_, appFolder_, true);
    trap(108, [&] {
        QPalette white = Label1->palette();
        white.setColor(QPalette::Window, QColor(0xFF, 0xFF, 0xFF));
        Label1->setPalette(white);
    });
    trap(110, [&] { Text1->setText(SettingsStore::read(SettingKey::ApiKey)); });
}

QString Form3::instructionsText() {
    const QString cr = QStringLiteral("\r");
    return QStringLiteral("Go to ") + KeyPage + cr + QStringLiteral("Click 'Subscribe to Test' to login") +
           cr + QStringLiteral("Click the Pricing tab and select the 'Basic' (free) plan") +
           QStringLiteral("\r\n") +
           QStringLiteral("Look at the 'Code Snippets' on the bottom right part of the website") + cr +
           QStringLiteral("Look for x-rapidapi-key and look at the long key next to it.") + cr +
           QStringLiteral("Your key should look like") + cr + SampleKey + cr +
           QStringLiteral("Paste this key into this software.");
}

QString Form3::sampleKeyText() {
    return QStringLiteral("Your key should look similar to, but not exactly, like this:") +
           QStringLiteral("\r\r") + SampleKey;
}

void Form3::setPointer(int value) {
    hand_.apply(this, value);
}

bool Form3::event(QEvent* e) {
    // The window's own background brings the default pointer back, unless the hourglass shows.
    if ((e->type() == QEvent::Enter || e->type() == QEvent::MouseMove) && hand_.value() != Surface::Hourglass)
        setPointer(Surface::Default);
    if (e->type() == QEvent::Show) {
        Text1->setFocus(Qt::TabFocusReason);
        Text1->selectAll();
    }
    return QWidget::event(e);
}

bool Form3::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove:
        // The hand over the push buttons, the default pointer over the frames; the hourglass stays
        // while the key test works.
        if (watched != Text1 && hand_.value() != Surface::Hourglass)
            setPointer(qobject_cast<QPushButton*>(watched) ? Surface::Hand : Surface::Default);
        break;
    case QEvent::FocusIn:
        // So that a paste replaces the old key.
        if (watched == Text1)
            Text1->selectAll();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, e);
}

void Form3::closeEvent(QCloseEvent* e) {
    // The close box unloads the dialog and brings the main window back. A key test still waiting
    // for its answer keeps the window object until it has shown its verdict.
    e->accept();
    unloaded_ = true;
    if (mainWindow_ && !Lifetime::ending())
        mainWindow_->show();
    if (!testing_)
        deleteLater();
}

void Form3::PushButton1_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form3.PushButton1_Click"));
    trap(100, [&] { prompts_.openUrl(KeyPage); });
}

void Form3::PushButton2_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form3.PushButton2_Click"));
    trap(100, [&] { prompts_.tell(instructionsText()); });
}

void Form3::PushButton3_Click() {
    // The key test sets the dialog's pointer, tells the user its verdict and refuses to start while
    // a download run or another test is under way. Meanwhile window events go on, so the close box
    // may unload the dialog: the window object then stays until the test has finished with it.
    const bool outermost = !testing_;
    testing_ = true;
    struct Finish {
        Form3* form;
        bool outermost;
        ~Finish() {
            if (!outermost)
                return;
            form->testing_ = false;
            if (form->unloaded_)
                form->deleteLater();
        }
    } finish{this, outermost};
    // The test reports to the dialog: its pointer and its message boxes (it has no progress bar).
    struct DialogObserver : SurfaceState {
        DialogObserver(Form3* dialog, Prompts& prompts)
            : SurfaceState(&prompts)
            , form(dialog) {}
        void setPointer(int value) override {
            SurfaceState::setPointer(value);
            form->setPointer(value);
        }
        Form3* form;
    } observer(this, prompts_);
    ErrorTrap trap(prompts_, QStringLiteral("Form3.PushButton3_Click"));
    Search::KeyTest(observer, trap, Text1->text());
}

void Form3::PushButton4_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form3.PushButton4_Click"));
    trap(100, [&] { prompts_.tell(sampleKeyText()); });
}

void Form3::PushButton6_Click() {
    // Hides the dialog without unloading it: the next opening shows the field as it was.
    ErrorTrap trap(prompts_, QStringLiteral("Form3.PushButton6_Click"));
    trap(100, [&] {
        if (mainWindow_)
            mainWindow_->show();
    });
    trap(102, [&] { hide(); });
}
