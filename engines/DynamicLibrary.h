#pragma once

#include <QString>
#include <QStringList>

// One shared library opened with dlopen(RTLD_LOCAL | RTLD_NOW) and closed when the object
// goes. A failure keeps the loader's own text, so a message can name the path and the
// symbol instead of a bare "not found".
namespace tonelark {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    // Opens `path` (a bare file name goes through the system's library search); closes
    // whatever was open before. False on failure, with errorString() telling why.
    bool open(const QString &path);
    void close();
    // Forgets the library without closing it: it stays loaded until the process ends.
    void leaveLoaded() { m_handle = nullptr; }
    bool isOpen() const { return m_handle != nullptr; }

    // The address of an exported symbol, or nullptr with errorString() telling why.
    void *symbol(const char *name);

    // A typed entry point: `Function` is a plain function type such as void(int).
    template <typename Function>
    Function *function(const char *name)
    {
        return reinterpret_cast<Function *>(symbol(name));
    }

    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

private:
    void *m_handle = nullptr;
    QString m_path;
    QString m_error;
};

// The folder of the running program's file (symbolic links resolved), without a QCoreApplication.
QString programFolder();
// Where one of our own private libraries is looked for: beside the program first (a search that
// an intercepted dlopen, as under the sanitizers, cannot spoil), then by the system's search,
// which also finds a copy the process has loaded already.
QStringList besideProgramFirst(const QString &fileName);
// Opens the first of `candidates` that loads; false with every reason in `errors` otherwise.
bool openFirst(DynamicLibrary &library, const QStringList &candidates, QStringList *errors = nullptr);

} // namespace tonelark
