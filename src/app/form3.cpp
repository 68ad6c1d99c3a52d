#include "app/form3.h"

#include "app/window_look.h"
#include "base/error_report.h"
#include "base/prompts.h"
#include "base/settings_store.h"
#include "base/surface.h"
#include "base/waiting.h"
#include "fetch/key_test.h"
#include "fetch/run_options.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

using Look::twips;
using Sources::Source;

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
    Look::makeFixedWindow(this, 8040, 6115);

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
    Frame2 = frame("Frame2", QStringLiteral("Enter Your RapidAPI Key"), twips(120, 3790, 7800, 750));
    Label3 = new QLabel(QStringLiteral("API Key"), Frame2);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(twips(120, 330, 840, 300));
    Label3->setAttribute(Qt::WA_NoMousePropagation);
    Text1 = new QLineEdit(QStringLiteral("Text1"), Frame2);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips(1000, 300, 5960, 345));
    Text1->setAttribute(Qt::WA_NoMousePropagation);
    Text1->installEventFilter(this);
    PushButton4 = button("PushButton4", QStringLiteral("?"), twips(7080, 300, 600, 345), Frame2,
                         &Form3::PushButton4_Click, 9);
    // In place of the key row for a source without a key.
    LabelNoKey = new QLabel(Frame2);
    LabelNoKey->setObjectName(QStringLiteral("LabelNoKey"));
    LabelNoKey->setGeometry(twips(120, 330, 7560, 300));
    LabelNoKey->setAttribute(Qt::WA_NoMousePropagation);
    LabelNoKey->hide();

    // The source list and the credits box follow the key in the focus order.
    FrameSource = frame("FrameSource", QStringLiteral("Image Source"), twips(120, 960, 7800, 1150));
    ComboSource = Look::place(new QComboBox(FrameSource), "ComboSource", twips(120, 300, 7560, 345), this);
    ComboSource->setEditable(false); // a drop-down list: pick an item, no typing
    ComboSource->setToolTip(QStringLiteral("Where the pictures come from. Openverse and Wikimedia Commons "
                                           "need no key; Pexels and Pixabay need a free one."));
    auto* licenceLabel = new QLabel(QString::fromLatin1(Sources::LicenceChoiceLabel), FrameSource);
    licenceLabel->setObjectName(QStringLiteral("LabelLicence"));
    licenceLabel->setGeometry(twips(120, 720, 2040, 300));
    ComboLicence = Look::place(new QComboBox(FrameSource), "ComboLicence", twips(2280, 700, 5400, 345), this);
    ComboLicence->setEditable(false);
    for (const Sources::LicenceChoice choice : Sources::AllLicenceChoices)
        ComboLicence->addItem(Sources::caption(choice));
    ComboLicence->setToolTip(QStringLiteral("Only pictures whose licence allows this use are downloaded. The "
                                            "original service tells no licence: it keeps to \"Any licence\" "
                                            "only."));
    CheckCredits =
        Look::place(new QCheckBox(QStringLiteral("Keep a credits list (credits.csv) in the folder"), this),
                    "CheckCredits", twips(240, 4630, 7680, 300), this);
    CheckCredits->setToolTip(QStringLiteral("One line for every downloaded picture: its file, keyword, "
                                            "source, address, page, title, creator and licence."));
    CheckEmbed = Look::place(new QCheckBox(QStringLiteral("Write the credits into each picture"), this),
                             "CheckEmbed", twips(240, 4930, 7680, 300), this);
    CheckEmbed->setToolTip(QStringLiteral("Title, creator, licence and source go into the picture's own "
                                          "metadata (XMP) of JPEG, PNG, WebP and TIFF pictures, where photo "
                                          "managers read them."));

    Label1 = new QLabel(Sources::dialogTexts(Source::ContextualWeb).intro, this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twips(0, 0, 8040, 900));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setContentsMargins(Look::px(120), 0, Look::px(120), 0);
    Label1->setAutoFillBackground(true);
    Label1->setAttribute(Qt::WA_NoMousePropagation);

    Frame1 = frame("Frame1", QStringLiteral("How To Get Your API Key"), twips(120, 2170, 7800, 750));
    button("PushButton2", QStringLiteral("Click Here For Instructions"), twips(120, 300, 7560, 345), Frame1,
           &Form3::PushButton2_Click, 9);

    Frame3 = frame("Frame3", QStringLiteral("Get Your RapidAPI Key"), twips(120, 2980, 7800, 750));
    PushButton1 =
        button("PushButton1", QStringLiteral("Open ") + Sources::dialogTexts(Source::ContextualWeb).keyPage,
               twips(120, 300, 7560, 345), Frame3, &Form3::PushButton1_Click, 9);

    PushButton3 = button("PushButton3", QStringLiteral("Test API Key"), twips(120, 5320, 3840, 405), this,
                         &Form3::PushButton3_Click, 11.25);
    button("PushButton6", QStringLiteral("Close"), twips(4080, 5320, 3840, 405), this,
           &Form3::PushButton6_Click, 11.25);

    // The key as typed or pasted, blanks included, on every change, into the setting of the source
    // shown; the sources without a key keep none (their field is disabled).
    connect(Text1, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (Sources::needsKey(source()))
            SettingsStore::write(Sources::keySetting(source()), text);
    });
    connect(ComboSource, &QComboBox::currentIndexChanged, this, &Form3::ComboSource_Click);
    connect(CheckCredits, &QCheckBox::toggled, this, [](bool on) {
        SettingsStore::write(SettingKey::Credits, on ? QStringLiteral("True") : QStringLiteral("False"));
    });
    connect(CheckEmbed, &QCheckBox::toggled, this, [](bool on) {
        SettingsStore::write(SettingKey::EmbedCredits, on ? QStringLiteral("True") : QStringLiteral("False"));
    });
    connect(ComboLicence, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && index < int(Sources::AllLicenceChoices.size()))
            SettingsStore::write(SettingKey::Licence,
                                 Sources::storedName(Sources::AllLicenceChoices[size_t(index)]));
    });
}

void Form3::Form_Load() {
    ErrorTrap trap(prompts_, QStringLiteral("Form3.Form_Load"));
    Main::LoadCommonLook(trap, this, hand_, appFolder_, true);
    trap(108, [&] {
        QPalette white = Label1->palette();
        white.setColor(QPalette::Window, QColor(0xFF, 0xFF, 0xFF));
        Label1->setPalette(white);
    });
    // Filling the list and showing the stored source store nothing: a name this version does not know
    // stays in the file and means the original service.
    trap(110, [&] {
        const QSignalBlocker quiet(ComboSource);
        ComboSource->clear();
        for (Source s : Sources::Choices)
            ComboSource->addItem(Sources::caption(s));
        const Source stored = Download::Stored::source();
        for (int i = 0; i < int(Sources::Choices.size()); ++i)
            if (Sources::Choices[size_t(i)] == stored)
                ComboSource->setCurrentIndex(i);
        showSource(stored);
    });
    // The field shows the chosen source's key; it is written back as it was read (an absent key is
    // stored empty), as any change of the field is.
    trap(112, [&] {
        if (Sources::needsKey(source()))
            SettingsStore::write(Sources::keySetting(source()), Text1->text());
    });
    // A text that is neither true nor false leaves the box at its default, on.
    trap(114, [&] {
        const QSignalBlocker quiet(CheckCredits);
        CheckCredits->setChecked(Download::Stored::credits());
    });
    // The licence and the credits in the pictures as stored; an unknown licence name shows as any.
    trap(116, [&] {
        const QSignalBlocker quiet(ComboLicence);
        const Sources::LicenceChoice stored = Download::Stored::licence();
        for (int i = 0; i < int(Sources::AllLicenceChoices.size()); ++i)
            if (Sources::AllLicenceChoices[size_t(i)] == stored)
                ComboLicence->setCurrentIndex(i);
    });
    trap(118, [&] {
        const QSignalBlocker quiet(CheckEmbed);
        CheckEmbed->setChecked(Download::Stored::embedCredits());
    });
}

Source Form3::source() const {
    const int index = ComboSource->currentIndex();
    return index >= 0 && index < int(Sources::Choices.size()) ? Sources::Choices[size_t(index)]
                                                              : Source::ContextualWeb;
}

void Form3::showSource(Source source) {
    const bool keyed = Sources::needsKey(source);
    const Sources::DialogTexts t = Sources::dialogTexts(source);
    Label1->setText(t.intro);
    Frame3->setTitle(keyed ? QStringLiteral("Get Your %1 Key").arg(t.keyName)
                           : QStringLiteral("Visit %1").arg(t.keyName));
    Frame2->setTitle(keyed ? QStringLiteral("Enter Your %1 Key").arg(t.keyName) : QStringLiteral("API Key"));
    PushButton1->setText(QStringLiteral("Open ") + t.keyPage);
    {
        // Swapping the text is no typing: no source's key goes into another's setting.
        const QSignalBlocker quiet(Text1);
        Text1->setText(Download::Stored::key(source));
    }
    // A source without a key: one line says so where the key would be, and what is about a key
    // (the key row, the instructions and the key test) is out of reach.
    LabelNoKey->setText(keyed ? QString() : t.keyHelp);
    LabelNoKey->setVisible(!keyed);
    for (QWidget* keyRow :
         {static_cast<QWidget*>(Label3), static_cast<QWidget*>(Text1), static_cast<QWidget*>(PushButton4)}) {
        keyRow->setVisible(keyed);
        keyRow->setEnabled(keyed);
    }
    Frame1->setEnabled(keyed);
    PushButton3->setEnabled(keyed);
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
        // The hand over the push buttons, the default pointer over the frames, the source list and
        // the credits box; the hourglass stays while the key test works.
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
    trap(100, [&] { prompts_.openUrl(Sources::dialogTexts(source()).keyPage); });
}

void Form3::PushButton2_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form3.PushButton2_Click"));
    trap(100, [&] { prompts_.tell(Sources::dialogTexts(source()).instructions); });
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
    // The test sends the key as stored: the field is stored on every change.
    Search::KeyTest(observer, trap, source(), Text1->text(), Download::Stored::key(source()));
}

void Form3::PushButton4_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form3.PushButton4_Click"));
    trap(100, [&] { prompts_.tell(Sources::dialogTexts(source()).keyHelp); });
}

void Form3::ComboSource_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form3.ComboSource_Click"));
    trap(100, [&] { SettingsStore::write(SettingKey::Source, Sources::storedName(source())); });
    trap(102, [&] { showSource(source()); });
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
