#include "DynamicLibrary.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace tonelark {

namespace {

QString takeDlError(const char *fallback)
{
    const char *text = dlerror();
    return QString::fromLocal8Bit(text ? text : fallback);
}

} // namespace

DynamicLibrary::~DynamicLibrary()
{
    close();
}

bool DynamicLibrary::open(const QString &path)
{
    close();
    m_path = path;
    m_error.clear();
    dlerror(); // drop a stale message so the one we keep belongs to this call
    m_handle = dlopen(QFile::encodeName(path).constData(), RTLD_LOCAL | RTLD_NOW);
    if (!m_handle) {
        m_error = QStringLiteral("%1: %2").arg(path, takeDlError("dlopen failed (unknown error)"));
        return false;
    }
    return true;
}

void DynamicLibrary::close()
{
    if (m_handle) {
        dlclose(m_handle);
        m_handle = nullptr;
    }
}

void *DynamicLibrary::symbol(const char *name)
{
    if (!m_handle) {
        m_error = QStringLiteral("%1: not open, no symbol \"%2\"").arg(m_path, QString::fromLatin1(name));
        return nullptr;
    }
    dlerror();
    void *address = dlsym(m_handle, name);
    if (!address) {
        m_error = QStringLiteral("%1: no symbol \"%2\" (%3)")
                      .arg(m_path, QString::fromLatin1(name), takeDlError("dlsym failed (unknown error)"));
    }
    return address;
}

QString programFolder()
{
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

QStringList besideProgramFirst(const QString &fileName)
{
    QStringList candidates;
    const QString folder = programFolder();
    if (!folder.isEmpty() && folder != QLatin1String("."))
        candidates << folder + QLatin1Char('/') + fileName;
    candidates << fileName;
    return candidates;
}

bool openFirst(DynamicLibrary &library, const QStringList &candidates, QStringList *errors)
{
    for (const QString &candidate : candidates) {
        if (library.open(candidate))
            return true;
        if (errors)
            *errors << library.errorString();
    }
    return false;
}

} // namespace tonelark
