// What a check may read besides the document: DTDs, schemas and what they include, from
// this computer's files only. A web address is read only as the local copy a catalog names
// for it; otherwise it is refused with the reason, before any connection could be tried.
#include "dom_internal.h"
#include "validate_internal.h"

#include <libxml/catalog.h>
#include <libxml/parserInternals.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace treelark::detail {

namespace {

// A schema that pulls in more documents than this is not one anybody wrote by hand; a
// chain of includes made to wear the machine down stops here.
constexpr int kMaxReads = 256;

thread_local ReadScope* tScope = nullptr;

QString fromXml(const xmlChar* s) { return s ? QString::fromUtf8(reinterpret_cast<const char*>(s)) : QString(); }

bool hasScheme(const QString& reference)
{
    const qsizetype colon = reference.indexOf(QLatin1Char(':'));
    // "C:" and the like are too short to be a scheme; a path never has "://" in it.
    return colon > 1 && reference.mid(colon, 3) == QLatin1String("://");
}

// The local path a file: URL or a path names; empty for any other address.
QString localPath(const QString& reference, const QString& baseDir)
{
    if (reference.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(reference);
        return url.isLocalFile() ? url.toLocalFile() : QString();
    }
    if (hasScheme(reference))
        return QString();
    if (QDir::isAbsolutePath(reference) || baseDir.isEmpty())
        return reference;
    return QDir(baseDir).filePath(reference);
}

QString catalogEntry(const QString& reference, const QString& publicId)
{
    const QByteArray sys = reference.toUtf8();
    const QByteArray pub = publicId.toUtf8();
    xmlChar* found = xmlCatalogResolve(pub.isEmpty() ? nullptr : reinterpret_cast<const xmlChar*>(pub.constData()),
                                       sys.isEmpty() ? nullptr : reinterpret_cast<const xmlChar*>(sys.constData()));
    if (!found && !sys.isEmpty())
        found = xmlCatalogResolveURI(reinterpret_cast<const xmlChar*>(sys.constData()));
    const QString entry = fromXml(found);
    xmlFree(found);
    return entry;
}

xmlParserInputPtr readLocally(const char* url, const char* id, xmlParserCtxtPtr ctxt)
{
    ReadScope* scope = tScope;
    if (!scope)
        return nullptr;
    const QString named = QString::fromUtf8(url ? url : id ? id : "");
    if (scope->nothing)
        return nullptr;
    const LocalFile file = locate(QString::fromUtf8(url ? url : ""), QString(), QString::fromUtf8(id ? id : ""));
    if (!file.refusal.isEmpty()) {
        scope->refused << file.refusal;
        return nullptr;
    }
    if (++scope->reads > kMaxReads) {
        scope->refused << QStringLiteral("%1 is not read: more than %2 documents are included.").arg(named).arg(kMaxReads);
        return nullptr;
    }
    // Only plain files: a device or a pipe would never end.
    if (file.path.isEmpty() || !QFileInfo(file.path).isFile())
        return nullptr;
    return xmlNewInputFromFile(ctxt, QFile::encodeName(file.path).constData());
}

} // namespace

LocalFile locate(const QString& reference, const QString& baseDir, const QString& publicId)
{
    const QString entry = catalogEntry(reference, publicId);
    if (!entry.isEmpty()) {
        const QString path = localPath(entry, QString());
        if (!path.isEmpty())
            return {path, QString()};
    }
    if (reference.isEmpty())
        return {QString(), QStringLiteral("%1 is not read: no catalog names a local copy of it.").arg(publicId)};
    const QString path = localPath(reference, baseDir);
    if (path.isEmpty())
        return {QString(), QStringLiteral("%1 is not read: only files on this computer are read, and no catalog "
                                          "names a local copy of it.")
                               .arg(reference)};
    return {QDir::cleanPath(path), QString()};
}

namespace {
void ignore(void*, const char*, ...) {}
} // namespace

ReadScope::ReadScope(bool readNothing)
    : nothing(readNothing), m_outer(tScope), m_oldGeneric(xmlGenericError), m_oldGenericContext(xmlGenericErrorContext)
{
    installEntityLoader();
    tScope = this;
    tOtherLoader = readLocally;
    // Whatever libxml2 says outside the sinks a check installs would only reach the
    // terminal, past the problems list.
    xmlSetGenericErrorFunc(nullptr, ignore);
}

ReadScope::~ReadScope()
{
    xmlSetGenericErrorFunc(m_oldGenericContext, m_oldGeneric);
    tScope = m_outer;
    if (!m_outer)
        tOtherLoader = nullptr;
}

} // namespace treelark::detail
