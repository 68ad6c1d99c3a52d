#include "app/form2.h"

#include "app/pictures_window.h"
#include "app/window_look.h"
#include "base/conversions.h"
#include "base/error_report.h"
#include "base/prompts.h"
#include "base/settings_store.h"
#include "base/surface.h"
#include "base/waiting.h"
#include "fetch/run_options.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include <algorithm>
#include <functional>
#include <iterator>

using Look::twips;

namespace {

// The option pairs: Option1/Option2 choose the file-size filter, Option3/Option4 the height filter,
// Option5/Option6 the width filter. The text stored is the number of the chosen button.
SettingKey optionKey(int option) {
    switch ((option + 1) / 2) {
    case 1:
        return SettingKey::FileSizeFilter;
    case 2:
        return SettingKey::HeightFilter;
    default:
        return SettingKey::WidthFilter;
    }
}

} // namespace

Form2::Form2(Prompts& prompts, QWidget* mainWindow, const QString& appFolder)
    : prompts_(prompts)
    , mainWindow_(mainWindow)
    , appFolder_(appFolder) {
    buildControls();
    Form_Load();
    Main::CentreOnScreen(this);
}

Form2::~Form2() = default;

void Form2::buildControls() {
    setObjectName(QStringLiteral("Form2"));
    // The designed caption; the load step replaces it with the program's name.
    setWindowTitle(QStringLiteral("Size Options"));
    Look::makeFixedWindow(this, 8040, 5445);

    auto frame = [&](const char* name, const QString& caption, QRect geometry) {
        return Look::place(new QGroupBox(caption, this), name, geometry, this);
    };
    auto option = [&](int number, const QString& caption, QRect geometry, QGroupBox* parent) {
        auto* o = new QRadioButton(caption, parent);
        o->setObjectName(QStringLiteral("Option%1").arg(number));
        o->setGeometry(geometry);
        const SettingKey k = optionKey(number);
        const QString value = QString::number(number);
        // Selecting a button stores its number, the program's own selections included; a click on
        // the button that is already selected stores it too, so what the window shows is what the
        // run reads.
        connect(o, &QRadioButton::toggled, this, [k, value](bool on) {
            if (on)
                SettingsStore::write(k, value);
        });
        connect(o, &QRadioButton::clicked, this, [o, k, value] {
            if (o->isChecked())
                SettingsStore::write(k, value);
        });
        return o;
    };
    auto list = [&](const char* name, SettingKey k, QRect geometry, QGroupBox* parent) {
        auto* c = new QComboBox(parent);
        c->setObjectName(QString::fromLatin1(name));
        c->setEditable(false); // a drop-down list: pick an item, no typing
        c->setGeometry(geometry);
        // The chosen position, never the item's text.
        auto store = [k](int index) {
            if (index >= 0)
                SettingsStore::write(k, QString::number(index));
        };
        connect(c, &QComboBox::currentIndexChanged, this, store);
        connect(c, &QComboBox::activated, this, store);
        return c;
    };
    auto field = [&](const char* name, SettingKey k, QRect geometry, QGroupBox* parent) {
        auto* t = Look::place(new QLineEdit(parent), name, geometry, this);
        connect(t, &QLineEdit::textChanged, this,
                [k](const QString& text) { SettingsStore::write(k, text); });
        return t;
    };
    auto button = [&](const char* name, const QString& caption, QRect geometry, QWidget* parent,
                      void (Form2::*handler)(), double points) {
        auto* b = Look::pushButton(parent, name, caption, geometry, points, this);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };

    Frame1 = frame("Frame1", QStringLiteral("Image Height Option"), twips(120, 120, 7800, 1500));
    Option3 = option(3, QStringLiteral("Download all images regardless of height"),
                     twips(240, 330, 7320, 300), Frame1);
    Option4 = option(4, QStringLiteral("Download based on this height:"), twips(240, 660, 7320, 300), Frame1);
    Combo3 = list("Combo3", SettingKey::HeightComparison, twips(240, 1020, 3240, 345), Frame1);
    Text6 = field("Text6", SettingKey::HeightLimit, twips(3600, 1020, 3240, 345), Frame1);
    button("PushButton11", QStringLiteral("?"), twips(6960, 1020, 600, 345), Frame1,
           &Form2::PushButton11_Click, 9);

    Frame2 = frame("Frame2", QStringLiteral("Image Width Option"), twips(120, 1680, 7800, 1500));
    Option5 = option(5, QStringLiteral("Download all images regardless of width"), twips(240, 330, 7320, 300),
                     Frame2);
    Option6 = option(6, QStringLiteral("Download based on this width:"), twips(240, 660, 7320, 300), Frame2);
    Combo4 = list("Combo4", SettingKey::WidthComparison, twips(240, 1020, 3240, 345), Frame2);
    Text5 = field("Text5", SettingKey::WidthLimit, twips(3600, 1020, 3240, 345), Frame2);
    button("PushButton2", QStringLiteral("?"), twips(6960, 1020, 600, 345), Frame2, &Form2::PushButton2_Click,
           9);

    // How the run downloads: several pictures of a keyword at once, and the pause after each.
    FrameRun = frame("FrameRun", QStringLiteral("Download Speed Option"), twips(120, 3240, 7800, 1500));
    auto caption = [&](const char* name, const QString& text, QRect geometry) {
        auto* l = new QLabel(text, FrameRun);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(geometry);
        return l;
    };
    auto choice = [&](const char* name, QRect geometry, const QStringList& items, const QString& tip,
                      std::function<void(int)> store) {
        auto* c = Look::place(new QComboBox(FrameRun), name, geometry, this);
        c->setEditable(false); // a drop-down list: pick an item, no typing
        c->addItems(items);
        c->setToolTip(tip);
        connect(c, &QComboBox::currentIndexChanged, this, store);
        connect(c, &QComboBox::activated, this, store);
        return c;
    };
    QStringList counts;
    for (int n = 1; n <= Download::MostAtOnce; ++n)
        counts << QString::number(n);
    caption("LabelParallel", QStringLiteral("Downloads at once:"), twips(240, 360, 3240, 300));
    ComboParallel = choice(
        "ComboParallel", twips(3600, 300, 3960, 345), counts,
        QStringLiteral("How many pictures of a keyword are downloaded at the same time. More is faster; "
                       "never more than two come from the same server at once."),
        [](int index) {
            if (index >= 0)
                SettingsStore::write(SettingKey::Parallel, QString::number(index + 1));
        });
    caption("LabelPace", QStringLiteral("Pause between downloads:"), twips(240, 765, 3240, 300));
    ComboPace = choice(
        "ComboPace", twips(3600, 705, 3960, 345),
        {QStringLiteral("As designed"), QStringLiteral("Short"), QStringLiteral("None")},
        QStringLiteral("The pause after each download. As designed: one and a half seconds; Short: a tenth "
                       "of that; None: no pause. The searches keep their pauses."),
        [](int index) {
            if (index >= 0 && index < int(std::size(Download::PaceChoices)))
                SettingsStore::write(SettingKey::Pace,
                                     QString::fromLatin1(Download::PaceChoices[index].stored));
        });

    CheckShowPictures = Look::place(new QCheckBox(QStringLiteral("Show pictures as they arrive"), FrameRun),
                                    "CheckShowPictures", twips(240, 1110, 7320, 300), this);
    CheckShowPictures->setToolTip(
        QStringLiteral("Opens the Pictures window when a download run keeps its first picture."));
    connect(CheckShowPictures, &QCheckBox::toggled, this, [](bool on) {
        SettingsStore::write(SettingKey::ShowPictures, on ? QStringLiteral("True") : QStringLiteral("False"));
    });

    button("PushButton1", QStringLiteral("Close"), twips(120, 4860, 7800, 405), this,
           &Form2::PushButton1_Click, 11.25);

    // The file-size group lies below the window's visible area: its values are kept and restored,
    // but no download step applies them.
    Frame4 = frame("Frame4", QStringLiteral("Filesize Option"), twips(120, 5880, 7800, 1500));
    Option1 = option(1, QStringLiteral("Download all images regardless of filesize"),
                     twips(240, 330, 7320, 300), Frame4);
    Option2 = option(2, QStringLiteral("Download images based on this filesize:"), twips(240, 660, 7320, 300),
                     Frame4);
    Combo1 = list("Combo1", SettingKey::FileSizeComparison, twips(240, 1020, 3360, 345), Frame4);
    Text4 = field("Text4", SettingKey::FileSizeLimit, twips(3720, 1020, 1080, 345), Frame4);
    Combo2 = list("Combo2", SettingKey::FileSizeUnit, twips(4920, 1020, 1920, 345), Frame4);
    button("PushButton8", QStringLiteral("?"), twips(6960, 1020, 600, 345), Frame4, &Form2::PushButton8_Click,
           9);

    // The designed selection, before the load step selects from the store: "all file sizes" and
    // "based on this height" are chosen, neither width button is.
    {
        const QSignalBlocker b1(Option1), b4(Option4);
        Option1->setChecked(true);
        Option4->setChecked(true);
    }
}

void Form2::Form_Load() {
    ErrorTrap trap(prompts_, QStringLiteral("Form2.Form_Load"));
    Main::LoadCommonLook(trap, this, hand_, appFolder_, true);
    restoreControls(trap, Restorer::LoadStep);
    restoreRunChoices(trap);
}

void Form2::restoreRunChoices(ErrorTrap& trap) {
    // Showing the stored choice stores nothing; a stored text the run would not understand shows
    // what the run makes of it.
    trap(172, [&] {
        const QSignalBlocker quiet(ComboParallel);
        ComboParallel->setCurrentIndex(Download::Stored::parallel() - 1);
    });
    trap(174, [&] {
        const QSignalBlocker quiet(ComboPace);
        ComboPace->setCurrentIndex(Download::Stored::paceChoice());
    });
    trap(176, [&] {
        const QSignalBlocker quiet(CheckShowPictures);
        CheckShowPictures->setChecked(PicturesWindow::opensByItself());
    });
}

void Form2::restoreControls(ErrorTrap& trap, Restorer by) {
    // The main window's start-up and the dialog's load step make the same statements under numbers
    // of their own: at(start-up's, load step's).
    const auto at = [by](int startUp, int loadStep) { return by == Restorer::StartUp ? startUp : loadStep; };

    trap(at(140, 108), [&] { Text4->setText(SettingsStore::read(SettingKey::FileSizeLimit)); });
    trap(at(142, 110), [&] { Text5->setText(SettingsStore::read(SettingKey::WidthLimit)); });
    trap(at(144, 112), [&] { Text6->setText(SettingsStore::read(SettingKey::HeightLimit)); });

    // Emptying and filling a list chooses nothing and stores nothing; choosing the stored position
    // stores it again. A position outside the list (or not a number) fails and leaves the list
    // without a chosen item and the stored text as it was. `statements`: emptying, each item, choosing.
    auto fill = [&](QComboBox* box, SettingKey k, const QStringList& items, const QList<int>& statements) {
        trap(statements.first(), [&] { box->clear(); });
        for (qsizetype i = 0; i < items.size(); ++i)
            trap(statements.at(1 + i), [&] {
                const QSignalBlocker quiet(box);
                box->addItem(items.at(i));
                box->setCurrentIndex(-1);
            });
        trap(statements.last(), [&] {
            const int position = Conversions::ToInt16(Conversions::ToDouble(SettingsStore::read(k)));
            if (position == -1) {
                box->setCurrentIndex(-1); // the list's own "nothing chosen"
                return;
            }
            if (position < 0 || position >= box->count())
                throw AppError(QStringLiteral("Invalid property value"));
            box->setCurrentIndex(position);
        });
    };
    fill(
        Combo1, SettingKey::FileSizeComparison,
        {QStringLiteral("Only download files greater than"), QStringLiteral("Only download files less than")},
        {at(146, 114), at(148, 116), at(150, 118), at(152, 120)});
    fill(Combo3, SettingKey::HeightComparison, {QStringLiteral("Greater than"), QStringLiteral("Less than")},
         {at(154, 122), at(156, 124), at(158, 126), at(160, 128)});
    fill(Combo4, SettingKey::WidthComparison, {QStringLiteral("Greater than"), QStringLiteral("Less than")},
         {at(162, 130), at(164, 132), at(166, 134), at(168, 136)});
    fill(Combo2, SettingKey::FileSizeUnit,
         {QStringLiteral("MB"), QStringLiteral("KB"), QStringLiteral("Bytes")},
         {at(170, 138), at(172, 140), at(174, 142), at(176, 144), at(178, 146)});

    // Each pair follows its stored text exactly ("6" with a blank around it selects nothing); any
    // other text leaves the pair as it was. `statements`: the test of the first button's text, its
    // selection, the test of the second's, its selection.
    auto pair = [&](SettingKey k, QRadioButton* first, QRadioButton* second, const QList<int>& statements) {
        const QString firstValue = first->objectName().mid(6);
        const QString secondValue = second->objectName().mid(6);
        bool isFirst = false;
        bool isSecond = false;
        trap(statements.at(0), [&] { isFirst = SettingsStore::read(k) == firstValue; });
        if (isFirst) {
            trap(statements.at(1), [&] { first->setChecked(true); });
            return;
        }
        trap(statements.at(2), [&] { isSecond = SettingsStore::read(k) == secondValue; });
        if (isSecond)
            trap(statements.at(3), [&] { second->setChecked(true); });
    };
    pair(SettingKey::FileSizeFilter, Option1, Option2,
         {at(180, 148), at(182, 150), at(184, 152), at(186, 154)});
    pair(SettingKey::HeightFilter, Option3, Option4,
         {at(188, 156), at(190, 158), at(192, 160), at(194, 162)});
    pair(SettingKey::WidthFilter, Option5, Option6, {at(196, 164), at(198, 166), at(200, 168), at(202, 170)});
}

Form2::ThresholdCheck Form2::checkThreshold(const QString& text) {
    if (!Conversions::IsNumeric(text))
        return ThresholdCheck::Refuse;
    return Conversions::ToDouble(text) <= 0 ? ThresholdCheck::Reset : ThresholdCheck::Keep;
}

void Form2::thresholdLostFocus(QLineEdit* field, const QString& reset) {
    switch (checkThreshold(field->text())) {
    case ThresholdCheck::Keep:
        break;
    case ThresholdCheck::Reset:
        field->setText(reset);
        break;
    case ThresholdCheck::Refuse:
        // The typed text stays (and stays stored) until the user corrects it.
        checkingThreshold_ = true;
        prompts_.tell(QStringLiteral("Must be numeric."));
        field->setFocus(Qt::OtherFocusReason);
        checkingThreshold_ = false;
        break;
    }
}

QString Form2::heightHelpText() {
    return QStringLiteral("Download only those pictures that fit to image height.");
}

QString Form2::widthHelpText() {
    return QStringLiteral("Download only those pictures that fit to image width.");
}

QString Form2::sizeHelpText() {
    return QStringLiteral("Download only those pictures that fit to file size.");
}

void Form2::setPointer(int value) {
    hand_.apply(this, value);
}

bool Form2::event(QEvent* e) {
    // The window's own background brings the default pointer back.
    if (e->type() == QEvent::Enter || e->type() == QEvent::MouseMove)
        setPointer(Surface::Default);
    return QWidget::event(e);
}

bool Form2::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove:
        // The hand over the push buttons; the default pointer over the frames and the file-size
        // field. The other fields and the lists leave the pointer as it is.
        if (qobject_cast<QPushButton*>(watched))
            setPointer(Surface::Hand);
        else if (qobject_cast<QGroupBox*>(watched) || watched == Text4)
            setPointer(Surface::Default);
        break;
    case QEvent::FocusOut: {
        // Moving to another application or to a box the program shows is no leaving of the field.
        const auto reason = static_cast<QFocusEvent*>(e)->reason();
        if (checkingThreshold_ || Lifetime::ending() || reason == Qt::ActiveWindowFocusReason ||
            reason == Qt::PopupFocusReason)
            break;
        if (watched == Text4)
            thresholdLostFocus(Text4, QStringLiteral("1"));
        else if (watched == Text5)
            thresholdLostFocus(Text5, QStringLiteral("500"));
        else if (watched == Text6)
            thresholdLostFocus(Text6, QStringLiteral("500"));
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, e);
}

void Form2::closeEvent(QCloseEvent* e) {
    // Unloading the dialog, by "Close" or by the close box, brings the main window back.
    // The next opening loads it anew.
    e->accept();
    unloaded_ = true;
    if (mainWindow_ && !Lifetime::ending())
        mainWindow_->show();
    deleteLater();
}

void Form2::PushButton1_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form2.PushButton1_Click"));
    trap(100, [&] { close(); });
}

void Form2::PushButton2_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form2.PushButton2_Click"));
    trap(100, [&] { prompts_.tell(widthHelpText()); });
}

void Form2::PushButton8_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form2.PushButton8_Click"));
    trap(100, [&] { prompts_.tell(sizeHelpText()); });
}

void Form2::PushButton11_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form2.PushButton11_Click"));
    trap(100, [&] { prompts_.tell(heightHelpText()); });
}
