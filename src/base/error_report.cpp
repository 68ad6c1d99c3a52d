#include "base/error_report.h"

#include "base/prompts.h"
#include "build_config.h"

#include <new>
#include <utility>

AppError::AppError(const QString& description)
    : std::runtime_error(description.toStdString()) {}

QString AppError::description() const {
    return QString::fromStdString(what());
}

QString errorReportText(const QString& description, const QString& where, int statement) {
    return description + QStringLiteral("\r\n") + QStringLiteral("in Snapquarry2021/08/31.") + where +
           QLatin1Char(' ') + QStringLiteral("at line ") + QString::number(statement) +
           QStringLiteral("\r\r") + QStringLiteral("Please email screenshot of this message to ") +
           QString::fromLatin1(BuildConfig::SupportEmail);
}

ErrorTrap::ErrorTrap(Prompts& prompts, QString where)
    : prompts_(prompts)
    , where_(std::move(where)) {}

void ErrorTrap::report(int statement, const QString& description) {
    prompts_.messageBox(errorReportText(description, where_, statement), QStringLiteral("Application Error"),
                        Prompts::Buttons::Ok, Prompts::Icon::Exclamation);
}

bool ErrorTrap::operator()(int statement, const std::function<void()>& body) {
    if (ended_)
        return false;
    try {
        body();
        return true;
    } catch (const ProgramEnding&) {
        ended_ = true;
    } catch (const AppError& e) {
        report(statement, e.description());
    } catch (const std::bad_alloc&) {
        // Never "std::bad_alloc": the user is told plainly what happened.
        report(statement, QStringLiteral("There is not enough memory to finish this step."));
    } catch (const std::exception& e) {
        report(statement, QString::fromLocal8Bit(e.what()));
    }
    return false;
}
