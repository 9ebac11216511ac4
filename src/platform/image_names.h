#pragma once

namespace velmora::platform {

// The program's images by what they show. The numbers are the file names
// under resources/images/ (written by resources/make_images.py).
enum class ImageName : int {
    AddContact = 0,
    AddEmailList = 1,
    EditEntries = 2,
    DeleteEntries = 3,
    StatusCustomers = 4,
    StatusDoNotContact = 5,
    StatusProspects = 6,
    TagImportant = 7,
    TagIrate = 8,
    TagStar = 9,
    TagTodo = 10,
    AddCampaignGroup = 11,
    SetGroup = 12,
    SetStatus = 13,
    SetTag = 14,
    Mailtray = 15,
    DeliverySettings = 16,
    Compose = 17,
    SendEmail = 18,
    SaveDraft = 19,
    Preview = 20,
    AttachFile = 21,
    Bold = 22,
    Italic = 23,
    UnorderedList = 24,
    OrderedList = 25,
    AlignLeft = 26,
    AlignCenter = 27,
    AlignJustify = 28,
    AlignRight = 29,
    IndentMore = 30,
    IndentLess = 31,
    HorizontalLine = 32,
    Hyperlink = 33,
    EditHtml = 34,
    FontStyle = 35,
    Cut = 36,
    Copy = 37,
    Paste = 38,
    Banner = 39,
    StatusSubscribers = 40,
};
// StatusSubscribers is the last image.
inline constexpr int kImageCount = static_cast<int>(ImageName::StatusSubscribers) + 1;

constexpr int imageNumber(ImageName name) {
    return static_cast<int>(name);
}

} // namespace velmora::platform
