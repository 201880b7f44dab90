#include "base/KavrelError.h"

const char *KavrelError::what() const noexcept
{
    try {
        m_what = message().toUtf8();
        return m_what.constData();
    } catch (...) {
        return "KavrelError";
    }
}

QString errorMessage(const std::exception_ptr &error)
{
    if (!error)
        return QString();
    try {
        std::rethrow_exception(error);
    } catch (const KavrelError &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

bool isCancellation(const std::exception_ptr &error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError &) {
        return true;
    } catch (...) {
        return false;
    }
}
