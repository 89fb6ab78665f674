#include "Platform/desktop/DrawnImage.h"

#include "Platform/desktop/DesktopBackend.h"
#include "Platform/desktop/Image.h"

namespace scrivlet {

DrawnImage::Drawing DrawnImage::draw() const {
    GraphicsContext context;
    GraphicsContext::Scope scope(context);
    Drawing drawing;
    drawing.succeeded = handler_ && handler_(CGRect(0, 0, size_.width, size_.height));
    drawing.operations = context.operations();
    return drawing;
}

std::optional<Image> Image::imageWithSystemSymbolName(std::string name,
                                                      std::string accessibilityDescription) {
    if (!DesktopBackend::current().hasSystemSymbol(name)) {
        return std::nullopt;
    }
    return systemSymbol(std::move(name), std::move(accessibilityDescription));
}

void Image::drawInRect(const CGRect& rect) const {
    if (GraphicsContext* context = GraphicsContext::current()) {
        context->record({DrawingOperation::Kind::drawSymbol,
                         rect,
                         {},
                         systemSymbolName,
                         accessibilityDescription});
    }
}

} // namespace scrivlet
