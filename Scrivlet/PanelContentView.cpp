#include "Scrivlet/PanelContentView.h"

#include "Platform/ui/DateFormatting.h"
#include "Scrivcore/PanelViewModel.h"

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

namespace {

// The folder that holds the file, as the header shows it under the name.
std::string directoryOfPath(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string result;
    for (std::size_t index = 0; index < parts.size(); ++index) {
        if (index > 0) {
            result += separator;
        }
        result += parts[index];
    }
    return result;
}

std::string shownDate(Date date) {
    return ui::formatted(date, ui::DateStyle::abbreviated, ui::TimeStyle::shortened);
}

// Every edit is followed by a save request, also when the annotation went away meanwhile:
// the view model decides whether there is anything to save.
void edit(PanelViewModel& model, const std::function<void(Annotation&)>& change) {
    model.editAnnotation(change);
    model.scheduleSave();
}

ui::View sectionLabel(const char* key) {
    return ui::Text(key)
        .font(ui::Font::subheadline)
        .foregroundStyle(ui::HierarchicalStyle::secondary);
}

ui::View section(const char* label, ui::View content) {
    return ui::VStack(ui::HorizontalAlignment::leading, 4,
                      {sectionLabel(label), std::move(content)});
}

ui::View header(const Annotation& record) {
    return ui::HStack(
        ui::VerticalAlignment::center, 10,
        {
            ui::Image("doc.fill")
                .font(ui::Font::title2)
                .foregroundStyle(ui::HierarchicalStyle::secondary),
            ui::VStack(ui::HorizontalAlignment::leading, 2,
                       {
                           ui::Text(record.fileName).font(ui::Font::headline).lineLimit(1),
                           // Long folders lose their start: the nearest folders say the most.
                           ui::Text(directoryOfPath(record.path))
                               .font(ui::Font::caption)
                               .foregroundStyle(ui::HierarchicalStyle::secondary)
                               .lineLimit(1)
                               .truncationMode(ui::TruncationMode::head),
                       }),
        });
}

// Star `number` of the rating. A tap counts against the rating the user saw: tapping the
// last lit star clears the rating even if the rating changed since it was drawn.
ui::View ratingStar(PanelViewModel& model, int drawnRating, int number) {
    auto image = drawnRating >= number
                     ? ui::Image("star.fill").foregroundStyle(ui::Color::yellow)
                     : ui::Image("star").foregroundStyle(ui::HierarchicalStyle::secondary);
    const int newRating = drawnRating == number ? 0 : std::clamp(number, 0, 5);
    return std::move(image).onTapGesture(1, [&model, newRating] {
        edit(model, [newRating](Annotation& record) { record.rating = newRating; });
    });
}

ui::View ratingStars(PanelViewModel& model, int drawnRating) {
    return ui::HStack(
               ui::VerticalAlignment::center, 4,
               {ui::ForEach(std::array{1, 2, 3, 4, 5},
                            [&](int number) { return ratingStar(model, drawnRating, number); })})
        .font(ui::Font::title3);
}

ui::View statusPicker(PanelViewModel& model) {
    ui::Binding<Annotation::Status> status(
        [&model] {
            const auto& record = model.annotation();
            return record ? record->status : Annotation::Status::none;
        },
        [&model](Annotation::Status chosen) {
            edit(model, [chosen](Annotation& record) { record.status = chosen; });
        });
    return ui::Picker("Status", status, Annotation::allStatuses,
                      [](Annotation::Status value) {
                          return ui::TextContent::verbatim(std::string(rawValue(value)));
                      })
        .labelsHidden();
}

ui::View tagList(const Annotation& record) {
    if (record.tags.empty()) {
        return ui::Text("No tags")
            .font(ui::Font::body)
            .foregroundStyle(ui::HierarchicalStyle::tertiary);
    }
    return ui::Text(joined(record.tags, ", ")).font(ui::Font::body);
}

// One tag with the control that removes it.
ui::View removableTag(PanelViewModel& model, const std::string& tag) {
    return ui::HStack(ui::VerticalAlignment::center, 4,
                      {
                          ui::Text(tag).font(ui::Font::body),
                          ui::Image("xmark.circle.fill")
                              .foregroundStyle(ui::HierarchicalStyle::secondary)
                              .onTapGesture(1, [&model, tag] { model.removeTag(tag); }),
                      });
}

// A text that holds no tag (only spaces, say) stays in the field for the user to fix.
ui::View tagField(PanelViewModel& model) {
    ui::Binding<std::string> draft(
        [&model] { return model.tagDraft(); },
        [&model](std::string text) { model.setTagDraft(std::move(text)); });
    return ui::TextField("Add tag", std::move(draft), model.tagCompletions(),
                         [&model] { model.addTag(model.tagDraft()); })
        .font(ui::Font::body);
}

ui::View editableTagList(PanelViewModel& model, const Annotation& record) {
    std::vector<ui::View> rows;
    if (record.tags.empty()) {
        rows.push_back(tagList(record));
    }
    for (const std::string& tag : record.tags) {
        rows.push_back(removableTag(model, tag));
    }
    rows.push_back(tagField(model));
    return ui::VStack(ui::HorizontalAlignment::leading, 4, {std::move(rows)});
}

ui::View noteEditor(PanelViewModel& model) {
    ui::Binding<std::string> note(
        [&model] {
            const auto& record = model.annotation();
            return record ? record->note : std::string();
        },
        [&model](std::string text) {
            edit(model, [&text](Annotation& record) { record.note = std::move(text); });
        });
    return ui::TextEditor(std::move(note))
        .font(ui::Font::body)
        .frame({.minHeight = 100})
        .scrollContentBackground(ui::Visibility::hidden)
        .padding(4)
        .background(ui::Color::named("controlBackgroundColor"))
        .clipShape({.cornerRadius = 6, .style = ui::RoundedCornerStyle::continuous});
}

ui::View dates(const Annotation& record) {
    return ui::VStack(ui::HorizontalAlignment::leading, 2,
                      {
                          ui::Text(ui::TextContent::localized("Created: %@",
                                                              {shownDate(record.createdAt)})),
                          ui::Text(ui::TextContent::localized("Modified: %@",
                                                              {shownDate(record.modifiedAt)})),
                      })
        .font(ui::Font::caption)
        .foregroundStyle(ui::HierarchicalStyle::secondary);
}

} // namespace

ui::View PanelContentView::body() const {
    const auto& annotation = viewModel.annotation();
    if (!annotation) {
        return ui::EmptyView();
    }
    const Annotation& record = *annotation;
    return ui::ScrollView(ui::Axis::vertical, true,
                          ui::VStack(ui::HorizontalAlignment::leading, 16,
                                     {
                                         header(record),
                                         ui::Divider(),
                                         section("Rating", ratingStars(viewModel, record.rating)),
                                         section("Status", statusPicker(viewModel)),
                                         section("Tags", tagRow == TagRow::editable
                                                             ? editableTagList(viewModel, record)
                                                             : tagList(record)),
                                         section("Note", noteEditor(viewModel)),
                                         ui::Divider(),
                                         dates(record),
                                     })
                              .padding());
}

} // namespace scrivlet
