#pragma once

#include <QLoggingCategory>
#include <QString>

#include <exception>

// The categories of the application's diagnostics. Only warnings show unless QT_LOGGING_RULES or --verbose
// asks for more. Nothing logged here may carry a password, a code or an unmasked e-mail address.
Q_DECLARE_LOGGING_CATEGORY(lcTools)
Q_DECLARE_LOGGING_CATEGORY(lcNetwork)
Q_DECLARE_LOGGING_CATEGORY(lcSignIn)
Q_DECLARE_LOGGING_CATEGORY(lcCatalog)
Q_DECLARE_LOGGING_CATEGORY(lcStore)

namespace mirvo {

// A short text for a caught failure, for the log only: the Russian description where the failure has one.
QString describeFailure(const std::exception_ptr& failure);

} // namespace mirvo
