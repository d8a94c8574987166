#include "admin/OpenLink.h"

#include <QDebug>
#include <QDesktopServices>

namespace {
std::function<void(const QUrl&)>& Opener()
{
    static std::function<void(const QUrl&)> opener;
    return opener;
}
} // namespace

namespace Functions {

QUrl LinkTarget(const QString& target)
{
    const QString http = QStringLiteral("http://");
    if (target.startsWith(http))
        return QUrl(target);
    if (target.startsWith(QStringLiteral("www.")))
        return QUrl(http + target);
    if (target.startsWith(QStringLiteral("mailto:")))
        return QUrl(target);
    return {};
}

void OpenLink(const QString& target)
{
    const QUrl url = LinkTarget(target);
    if (url.isEmpty())
        return;
    if (Opener()) {
        Opener()(url);
        return;
    }
    if (!QDesktopServices::openUrl(url))
        qWarning() << "OpenLink: no handler opened" << url.toString();
}

void SetLinkOpenerForTests(std::function<void(const QUrl&)> opener)
{
    Opener() = std::move(opener);
}

} // namespace Functions
