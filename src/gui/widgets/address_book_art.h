#pragma once

#include <QIcon>
#include <QPixmap>

/// Pictures of the address book and autodiscovery windows, drawn in code so they scale and
/// need no image files.
namespace addressbook_art {

enum class Button { New, Properties, Delete, Print, Autodiscover, DbQuery, ClearDb };
enum class TreeIcon { Branch, Workgroup, Location, IpRange };

QIcon buttonIcon(Button which);
QIcon treeIcon(TreeIcon which);
/// The picture across the top of a node dialog.
QPixmap banner(const QString& title, const QString& subtitle, int width);

} // namespace addressbook_art
