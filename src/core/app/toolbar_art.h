#pragma once

#include <QImage>
#include <QList>

namespace qarsilo {

enum class ToolbarStrip {
    Main, ///< Network Statistic, Network Chart, Network Address Book, Network Analyzer, Network
          ///< Trace
    View, ///< Bar Graph, Pie Chart, Start, Stop, Address Book+
};

enum class ImageState { Normal, Hot, Disabled };

/// The program's toolbar images, 32 x 32 with transparency, in button order.
/// Hot images are the brighter form shown under the mouse; disabled ones are
/// grey and flat.
QList<QImage> toolbarImages(ToolbarStrip strip, ImageState state);

/// The decode tree's images (16 x 16), in the order root, root selected,
/// field, field selected, layer, layer selected.
QList<QImage> decodeTreeImages();

/// The small network card image of the adapter list (16 x 16).
QImage adapterImage();

/// The application's icon (64 x 64).
QImage applicationImage();

} // namespace qarsilo
