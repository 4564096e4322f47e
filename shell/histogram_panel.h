#pragma once

#include "dialogs/histogram_view.h"
#include "filters/colour/histogram.h"

#include <QDockWidget>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class CDocumentHost;
class QComboBox;
class QLabel;

// View > Histogram: the histogram of the active document's picture in a panel docked on the main
// window, with a choice of channel and the pixel count, mean and median of the channel shown.
//
// The counting runs on a thread of its own, never on the interface thread: after every change of
// the picture (commit, Undo, Redo, opening, another window activated) the picture is counted
// again, a newer request cancelling an older count; during a preview every complete frame is
// counted on the rendering thread, where nothing writes it. A count reads the picture while the
// interface thread is between commands; a command first waits for the running count (Hold), and
// counts asked for meanwhile start once it has returned.
class CHistogramPanel : public QDockWidget
{
    Q_OBJECT

public:
    explicit CHistogramPanel(QWidget* parent = nullptr);
    ~CHistogramPanel() override;

    // The document whose picture is shown, null for none. Waits for a count of the previous one.
    void Follow(CDocumentHost* host);
    CDocumentHost* followed() const { return m_host; }

    // While one exists no count reads a picture: made before a command runs.
    class CHold
    {
    public:
        explicit CHold(CHistogramPanel& panel);
        ~CHold();
        CHold(const CHold&) = delete;
        CHold& operator=(const CHold&) = delete;

    private:
        CHistogramPanel& m_panel;
    };

    CHistogramView* histogramView() const { return m_view; }
    QComboBox* channelBox() const { return m_channels; }
    QLabel* statistics() const { return m_statistics; }
    // The statistics line for `channel` of `histogram`: "Pixels: 12000  Mean: 117.35  Median: 121".
    static QString Statistics(const orvex_colour::CHistogram& histogram, CHistogramView::Channel channel);

signals:
    // A new count is on show.
    void histogramShown();
    // The panel was closed by its own button.
    void closedByUser();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Counts the followed picture again (when shown; after the hold, when held).
    void Request();
    void Show(std::uint64_t generation, const orvex_colour::CHistogram& histogram);
    void ShowStatistics();
    // Waits until no count runs; a request not yet started is dropped (and reported as true).
    bool WaitIdle();
    void Run();

    CHistogramView* m_view;
    QComboBox* m_channels;
    QLabel* m_statistics;
    QPointer<CDocumentHost> m_host;
    QMetaObject::Connection m_updated;
    QMetaObject::Connection m_closing;
    int m_holds = 0;
    bool m_wantedDuringHold = false;
    std::atomic<bool> m_shown{false};
    // Results of an older request than this are dropped.
    std::atomic<std::uint64_t> m_generation{0};

    std::mutex m_mutex;
    std::condition_variable m_wake;
    const CImage* m_pending = nullptr;
    std::uint64_t m_pendingGeneration = 0;
    bool m_busy = false;
    bool m_stopping = false;
    std::atomic<bool> m_cancel{false};
    std::thread m_worker;
};
