#pragma once

#include "platform/foundation/PropertyList.h"
#include "platform/graphics/TextLayer.h"
#include "ui/Raroderavarav.h"

#include <vector>

// The screen on which the user chooses the album to rate: the names of the albums with unrated
// photos, one of them selected. Up and Down move the selection; Select closes the screen, and
// whoever opened it reads `albums` and `position` to learn the choice.
// FIXME: the preview strip, the selection star and the break menu arrive with the photo strip
// and the menu screen; until then the names are a plain list with the selected one marked.
class AlbumController : public Raroderavarav {
public:
    explicit AlbumController(PlistArray albums);

    const PlistArray& albums() const { return m_albums; }
    // Index in albums() of the selected album.
    size_t position() const { return m_position; }
    void setPosition(size_t position);

    void buttonUp() override;
    void buttonDown() override;
    void buttonSelect() override;
    void layoutSublayersOfLayer(Layer& layer) override;

private:
    void showSelection();

    PlistArray m_albums;
    size_t m_position = 0;
    std::vector<std::shared_ptr<TextLayer>> m_nameLayers;
};
