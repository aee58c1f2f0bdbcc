#pragma once

#include "SongLoader.h"
#include "Ui.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

// The one way in for songs. Command line, open dialog, drop, hand-over and MPRIS all ask the
// gate; it runs one load at a time. A load's message box runs a nested event loop in which
// further requests arrive: they never start a load (or a box) inside it. A request that can
// be loaded waits and runs once the box has closed; one that fails at once (a missing file)
// is added to the text of the box on screen. So however many requests arrive, the stack
// stays flat and at most one error box is open.
namespace tonelark {

enum class SongSource { CommandLine, OpenDialog, Drop, HandOver, Mpris, Queue };

struct SongRequest {
    QString fileName;
    SongSource source = SongSource::OpenDialog;
};

// The requests waiting for the running load and its box. This one keeps the latest: a new
// request replaces the waiting one. A song queue may take its place through
// SongGate::setPending.
class PendingSongRequests {
public:
    virtual ~PendingSongRequests() = default;
    // Keeps `request`; returns the one it replaced, if any, so the user can be told.
    virtual std::optional<SongRequest> add(const SongRequest &request)
    {
        return std::exchange(m_latest, request);
    }
    // The request to load next, removed from the waiting ones; nothing when none waits.
    virtual std::optional<SongRequest> takeNext()
    {
        std::optional<SongRequest> next = std::move(m_latest);
        m_latest.reset();
        return next;
    }

private:
    std::optional<SongRequest> m_latest;
};

class SongGate {
public:
    // Runs the whole load of one file (BRSLoad's sequence); its boxes go through loaderUi().
    using Load = std::function<LoadOutcome(const QString &fileName)>;

    // `ui` shows the boxes; `load` runs a load.
    SongGate(Ui &ui, Load load);

    // Loads `request` now when no load runs, then whatever waits meanwhile, and returns the
    // outcome of its own load. During a load: a request the loader would refuse at once gets
    // its message added to the box on screen (or to one box shown after the load), any other
    // one waits; the result is then Deferred.
    LoadOutcome request(const SongRequest &request);

    // Where the gate says which waiting songs a later one replaced (the info memo).
    using Notice = std::function<void(const QString &text)>;
    void setNotice(Notice notice) { m_notice = std::move(notice); }

    // A load or one of its boxes is running.
    bool isBusy() const { return m_running; }
    // The Ui the loader shows its boxes through, so the gate knows when one is open.
    Ui &loaderUi() { return m_loaderUi; }

    // At close: nothing that waits is loaded or shown any more.
    void dropWaiting()
    {
        while (m_pending->takeNext()) {
        }
        m_unshown = {};
        m_replacedCount = 0;
        m_replaced.clear();
    }

    PendingSongRequests &pending() { return *m_pending; }
    void setPending(std::unique_ptr<PendingSongRequests> pending) { m_pending = std::move(pending); }

    // How many late failures a box lists by name; the rest are counted.
    static constexpr int kListedLateFailures = 5;
    // The text of a box that opened with `boxText` and has since had `lateCount` failures
    // added, of which `lastLines` are the most recent (at most kListedLateFailures).
    // The info memo's lines for `count` waiting songs that later ones replaced, of which
    // `lastNames` (quoted) are the most recent.
    static QString replacedNotice(int count, const QStringList &lastNames);
    static QString boxTextWithLateFailures(const QString &boxText, int lateCount,
                                           const QStringList &lastLines);

private:
    // Forwards to the real Ui and tracks the error box the loader has open.
    class LoaderUi final : public Ui {
    public:
        explicit LoaderUi(SongGate &gate) : m_gate(gate) {}
        void showError(const QString &text) override;
        void showWarning(const QString &text) override { m_gate.m_ui.showWarning(text); }
        void showInformation(const QString &caption, const QString &text) override
        {
            m_gate.m_ui.showInformation(caption, text);
        }
        bool askYesNo(const QString &text) override { return m_gate.m_ui.askYesNo(text); }
        QString getOpenFileName(const OpenFileRequest &request) override
        {
            return m_gate.m_ui.getOpenFileName(request);
        }
        QString getSaveFileName(const SaveFileRequest &request) override
        {
            return m_gate.m_ui.getSaveFileName(request);
        }
        void setClipboardText(const QString &text) override { m_gate.m_ui.setClipboardText(text); }
        bool replaceOpenErrorText(const QString &text) override
        {
            return m_gate.m_ui.replaceOpenErrorText(text);
        }

    private:
        SongGate &m_gate;
    };

    // Failures shown in one box: the box's own text, then how many were added and the last
    // of them as single lines.
    struct Failures {
        QString first;
        int count = 0;
        QStringList lines;
    };
    void addLateFailure(const QString &boxText);
    // Shows the failures no box took in one box (which takes further ones while it is open).
    void showLateFailures();
    void showBox(Failures failures);

    Ui &m_ui;
    Load m_load;
    LoaderUi m_loaderUi;
    std::unique_ptr<PendingSongRequests> m_pending;
    bool m_running = false;
    // The error box open now.
    std::optional<Failures> m_open;
    // Late failures that arrived while no box was open (count 0: none).
    Failures m_unshown;
    Notice m_notice;
    // Waiting songs a later request replaced since the last notice: how many, the last names.
    int m_replacedCount = 0;
    QStringList m_replaced;
};

} // namespace tonelark
