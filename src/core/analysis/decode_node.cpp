#include "core/analysis/decode_node.h"

#include <cstddef>

namespace qarsilo {
namespace {

struct ImagePair {
    TreeImage normal;
    TreeImage selected;
};

// Indexed by DecodeNodeKind.
constexpr ImagePair kImages[] = {
    {TreeImage::Root, TreeImage::RootSelected},
    {TreeImage::Layer, TreeImage::LayerSelected},
    {TreeImage::Field, TreeImage::FieldSelected},
};
static_assert(static_cast<std::size_t>(DecodeNodeKind::Root) == 0 &&
              static_cast<std::size_t>(DecodeNodeKind::Layer) == 1 &&
              static_cast<std::size_t>(DecodeNodeKind::Field) == 2);

const ImagePair& imagesOf(DecodeNodeKind kind) noexcept {
    return kImages[static_cast<std::size_t>(kind)];
}

} // namespace

TreeImage DecodeNode::image() const noexcept {
    return imagesOf(kind).normal;
}

TreeImage DecodeNode::selectedImage() const noexcept {
    return imagesOf(kind).selected;
}

} // namespace qarsilo
