#include "Platform/desktop/Graphics.h"

namespace scrivlet {

namespace {
// Drawing happens on the main thread only, one image at a time.
GraphicsContext* currentContext = nullptr;
} // namespace

GraphicsContext* GraphicsContext::current() {
    return currentContext;
}

GraphicsContext::Scope::Scope(GraphicsContext& context) : previous_(currentContext) {
    currentContext = &context;
}

GraphicsContext::Scope::~Scope() {
    currentContext = previous_;
}

void Color::setFill() const {
    if (GraphicsContext* context = GraphicsContext::current()) {
        context->setFillColor(name_);
        context->record({DrawingOperation::Kind::setFillColor, {}, name_, {}, {}});
    }
}

void BezierPath::fill() const {
    GraphicsContext* context = GraphicsContext::current();
    // Without a fill colour nothing visible is painted, as with a clear colour.
    if (context == nullptr || !context->fillColor()) {
        return;
    }
    const auto kind = oval_ ? DrawingOperation::Kind::fillOval : DrawingOperation::Kind::fillRect;
    context->record({kind, rect_, *context->fillColor(), {}, {}});
}

} // namespace scrivlet
