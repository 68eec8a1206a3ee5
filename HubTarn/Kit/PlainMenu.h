#pragma once

#include <QMenu>

class QAbstractButton;

namespace Hub::Kit {

// A pop-up menu in the window's look (a raised panel with a hairline
// outline and rounded corners, prose items, a panel-coloured highlight)
// opened by a face the caller draws: attach() pops it up under the face on
// each press, with no indicator or chrome added to the face.
class PlainMenu : public QMenu {
    Q_OBJECT

public:
    explicit PlainMenu(QWidget* parent = nullptr);

    void attach(QAbstractButton* face);
};

} // namespace Hub::Kit
