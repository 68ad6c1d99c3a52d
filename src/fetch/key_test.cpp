#include "fetch/key_test.h"

#include "base/error_report.h"
#include "base/run_gate.h"
#include "base/surface.h"
#include "base/waiting.h"
#include "fetch/curl_session.h"
#include "fetch/pace.h"
#include "fetch/picture_fetch.h"
#include "fetch/retry.h"
#include "fetch/run_report.h"
#include "fetch/sources/adapters.h"

#include <QUrl>

#include <optional>

namespace Search {

Sources::KeyVerdict KeyTest(RunObserver& observer, ErrorTrap& trap, Sources::Source source,
                            const QString& keyFieldText, const QString& key) {
    using Sources::KeyVerdict;
    // Whatever happens below, the gate is let go and the private folder removed, also when a wait
    // unwinds because the program is ending.
    const RunGate gate;
    if (!gate.opened()) {
        trap(100, [&] { observer.setPointer(Surface::Default); });
        return KeyVerdict::NotRun;
    }
    std::optional<CurlSession> curl;

    trap(102, [&] { observer.setPointer(Surface::Hourglass); });
    if (keyFieldText.isEmpty() && Sources::needsKey(source)) {
        trap(104, [&] { observer.showMessage(QStringLiteral("You must enter your API Key first.")); });
        if (!trap.ended())
            trap(106, [&] { observer.setPointer(Surface::Default); });
        return KeyVerdict::NotRun;
    }

    // All free sources at once is tried with its first source, which needs no key.
    const std::unique_ptr<Sources::ImageSource> adapter =
        Sources::makeAdapter(Sources::members(source).front());
    const Sources::PageQuery query{QStringLiteral("city"), 1, 0, 4, key};
    Sources::KeyTestResult verdict;
    int exitCode = Shell32::StartErrorBase + 53; // no session: curl could not be started
    ToolOutput output;
    QByteArray answer;
    trap(108, [&] { curl.emplace(); });
    if (curl) {
        trap(110, [&] {
            exitCode = Shell32::RunAndWait(adapter->command(*curl, adapter->request(query)), 0, nullptr,
                                           QString(), 0, 0, 0, &output);
        });
        trap(112, [&] { answer = adapter->readAnswerFile(curl->responseFile()); });
    }
    trap(114, [&] {
        // A key is only blamed when the service answered: a search that never reached it says so.
        if (exitCode != 0 || output.crashed) {
            const QString answerFile = curl ? curl->responseFile() : QString();
            const QString curlText = PictureFetch::curlErrorText(exitCode, output);
            verdict = {KeyVerdict::Unreachable,
                       Retry::isUnreachable(exitCode, output)
                           ? RunTexts::cannotReach(QUrl(adapter->request(query).address).host()) +
                                 QStringLiteral("\r\n\r\n") + curlText
                           : RunTexts::searchFailed(curlText, Sources::answerTooLarge(exitCode, answerFile))};
        } else {
            verdict = adapter->keyTest(answer, output.httpStatus(), query, trap.prompts());
        }
    });
    trap(116, [&] { curl.reset(); });
    trap(118, [&] { Main::PauseSeconds(Pace::seconds(1.0)); });
    trap(120, [&] { observer.setPointer(Surface::Default); });
    trap(122, [&] { observer.showMessage(verdict.text); });
    trap(124, [&] { observer.setPointer(Surface::Default); });
    return verdict.verdict;
}

} // namespace Search
