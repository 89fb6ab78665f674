#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/Geometry.h"
#include "Platform/desktop/Graphics.h"

#include <functional>
#include <vector>

namespace scrivlet {

// An image whose content is drawn on demand by a handler, each time it is shown, into a
// rectangle of the image's size. The handler answers whether it drew.
class SCRIVLET_PLATFORM_API DrawnImage {
public:
    using DrawingHandler = std::function<bool(const CGRect& destination)>;

    static DrawnImage imageWithSize(CGSize size, bool flipped, DrawingHandler handler) {
        return DrawnImage(size, flipped, std::move(handler));
    }

    CGSize size() const { return size_; }
    bool isFlipped() const { return flipped_; }

    struct Drawing {
        bool succeeded = false;
        std::vector<DrawingOperation> operations;
    };
    // Runs the handler into a fresh recording context, as the desktop does to show it.
    Drawing draw() const;

private:
    DrawnImage(CGSize size, bool flipped, DrawingHandler handler)
        : size_(size), flipped_(flipped), handler_(std::move(handler)) {}
    CGSize size_;
    bool flipped_;
    DrawingHandler handler_;
};

} // namespace scrivlet
