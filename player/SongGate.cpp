#include "SongGate.h"

namespace tonelark {

namespace {

// A box text ("\"path\"\r\n\r\nが見つかりません。") as one line of a list.
QString oneLine(const QString &boxText)
{
    QString line = boxText;
    line.replace(QLatin1String("\r\n\r\n"), QLatin1String(" "));
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    return line;
}

void keepLast(QStringList &lines, const QString &line)
{
    lines.append(line);
    while (lines.size() > SongGate::kListedLateFailures)
        lines.removeFirst();
}

} // namespace

SongGate::SongGate(Ui &ui, Load load)
    : m_ui(ui), m_load(std::move(load)), m_loaderUi(*this),
      m_pending(std::make_unique<PendingSongRequests>())
{
}

QString SongGate::boxTextWithLateFailures(const QString &boxText, int lateCount,
                                          const QStringList &lastLines)
{
    if (lateCount <= 0)
        return boxText;
    const QString heading = lateCount > lastLines.size()
        ? QStringLiteral("続けて届いた %1 件の曲も開けませんでした（最後の %2 件）:").arg(lateCount).arg(lastLines.size())
        : QStringLiteral("続けて届いた %1 件の曲も開けませんでした:").arg(lateCount);
    return boxText + QStringLiteral("\r\n\r\n") + heading + QStringLiteral("\r\n") +
           lastLines.join(QStringLiteral("\r\n"));
}

QString SongGate::replacedNotice(int count, const QStringList &lastNames)
{
    const QString heading = count > lastNames.size()
        ? QStringLiteral("読み込み中に届いた %1 曲は、後から届いた曲に替わったため開いていません（最後の %2 曲）:")
              .arg(count)
              .arg(lastNames.size())
        : QStringLiteral("読み込み中に届いた %1 曲は、後から届いた曲に替わったため開いていません:").arg(count);
    return QStringLiteral("[曲の受け取り]\r\n") + heading + QStringLiteral("\r\n") +
           lastNames.join(QStringLiteral("\r\n"));
}

LoadOutcome SongGate::request(const SongRequest &request)
{
    if (m_running) {
        // Checked now, while it costs nothing: a file that is not there fails the same way
        // later, and a box per such request is what must not pile up.
        if (const std::optional<LoadRefusal> refusal = refusalBeforeLoad(request.fileName)) {
            addLateFailure(refusal->message);
            return refusal->outcome;
        }
        if (const std::optional<SongRequest> replaced = m_pending->add(request)) {
            ++m_replacedCount;
            keepLast(m_replaced, QStringLiteral("\"%1\"").arg(replaced->fileName));
        }
        return LoadOutcome::Deferred;
    }
    m_running = true;
    const LoadOutcome outcome = m_load(request.fileName);
    // Each next step starts from here, never from inside a box: the stack stays flat.
    for (;;) {
        if (m_unshown.count > 0) {
            showLateFailures();
            continue;
        }
        const std::optional<SongRequest> next = m_pending->takeNext();
        if (!next)
            break;
        m_load(next->fileName);
        // After the load, whose own texts replace the memo's.
        if (m_replacedCount > 0) {
            if (m_notice)
                m_notice(replacedNotice(m_replacedCount, m_replaced));
            m_replacedCount = 0;
            m_replaced.clear();
        }
    }
    m_running = false;
    return outcome;
}

void SongGate::addLateFailure(const QString &boxText)
{
    if (m_open) {
        ++m_open->count;
        keepLast(m_open->lines, oneLine(boxText));
        if (m_ui.replaceOpenErrorText(
                boxTextWithLateFailures(m_open->first, m_open->count, m_open->lines)))
            return;
        // A Ui that cannot change its box: shown after it instead.
        --m_open->count;
    }
    if (m_unshown.count++ == 0)
        m_unshown.first = boxText;
    else
        keepLast(m_unshown.lines, oneLine(boxText));
}

void SongGate::showLateFailures()
{
    Failures late = std::move(m_unshown);
    m_unshown = {};
    --late.count;   // the first is the box's own text
    showBox(std::move(late));
}

void SongGate::showBox(Failures failures)
{
    m_open = std::move(failures);
    m_ui.showError(boxTextWithLateFailures(m_open->first, m_open->count, m_open->lines));
    m_open.reset();
}

void SongGate::LoaderUi::showError(const QString &text)
{
    m_gate.showBox({text, 0, {}});
}

} // namespace tonelark
