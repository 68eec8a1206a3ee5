#pragma once

#include <QWidget>

class QLabel;

namespace Hub {
class HubModel;
}

namespace Hub::Kit {
class ExternalLink;
class Pill;
}

namespace Hub::Views {

class JobLine;

// A newer release of Tarnhub itself is out: its version, its release notes
// in a popover, the self-update's progress and "Update and restart". Takes
// no room while there is no newer release.
class HubUpdateBar : public QWidget {
    Q_OBJECT

public:
    explicit HubUpdateBar(HubModel* model, QWidget* parent = nullptr);

    // The release notes' popover; null while it is closed.
    QWidget* notes() const { return m_notes; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void sync();
    void toggleNotes();

    HubModel* m_model;
    QWidget* m_frame;
    QLabel* m_title;
    Kit::ExternalLink* m_whatsNew;
    JobLine* m_job;
    Kit::Pill* m_update;
    QWidget* m_notes = nullptr;
};

} // namespace Hub::Views
