#include "test_windows.h"

#include "fake_prompts.h"
#include "test_settings.h"

std::unique_ptr<Form1> startSeenForm1(FakePrompts& prompts, Form1::Options options) {
    TestSettings::seed(QStringLiteral("FirstTime"), QStringLiteral("True"));
    if (!options.randomPercent)
        options.randomPercent = [] { return 1; };
    return std::make_unique<Form1>(prompts, options);
}
