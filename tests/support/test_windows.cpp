#include "test_windows.h"

#include "fake_prompts.h"
#include "test_settings.h"

#include <QStyleOptionProgressBar>

std::unique_ptr<Form1> startSeenForm1(FakePrompts& prompts, Form1::Options options) {
    TestSettings::seed(SettingKey::FirstTime, QStringLiteral("True"));
    if (!options.randomPercent)
        options.randomPercent = [] { return 1; };
    return std::make_unique<Form1>(prompts, options);
}

void ProgressLabelRecorder::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                        const QWidget* widget) const {
    if (element == CE_ProgressBarLabel)
        if (const auto* bar = qstyleoption_cast<const QStyleOptionProgressBar*>(option))
            drawn << bar->text;
    QProxyStyle::drawControl(element, option, painter, widget);
}
