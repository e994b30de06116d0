#include "player/list/File.h"

#include "player/config/Tool.h"
#include "player/list/Filelist.h"
#include "player/mediainfo/TagText.h"

std::string_view FileNamePart(std::string_view path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

TFile::TFile(std::string fileName) : FileName(std::move(fileName)), Title(FileNamePart(FileName)) {}

TFile::Tags TFile::ReadTags(const std::string& fileName) {
    Tags tags{
        std::make_unique<TID3TAG>(fileName), std::make_unique<TRIFFINFO>(fileName), nullptr, {}};
    // The ID3v1 and INFO readers decide whenever they give a title; only a
    // file they leave untitled costs the slower reading.
    bool titled = tags.RiffInfo->Found
                      ? !tags.RiffInfo->ISBJ.empty() || !tags.RiffInfo->INAM.empty()
                      : tags.Id3->Found && !tags.Id3->GetTitle().empty();
    if (!titled)
        tags.GstTags = std::make_unique<TGSTTAGS>(fileName);
    return tags;
}

// An INFO list, when present, decides both texts, empty ones included; the
// title is rebuilt only when a tag title exists.
void TFile::ApplyTags(Tags tags) {
    if (tags.Id3 && tags.Id3->Found) {
        TagTitle = tags.Id3->GetTitle();
        TagArtist = tags.Id3->GetArtist();
    }
    if (tags.RiffInfo && tags.RiffInfo->Found) {
        TagTitle = tags.RiffInfo->ISBJ.empty() ? tags.RiffInfo->INAM : tags.RiffInfo->ISBJ;
        TagArtist = tags.RiffInfo->IART;
    }
    bool timeChanged = false;
    if (tags.GstTags) {
        if (!tags.GstTags->Title.empty()) {
            TagTitle = tags.GstTags->Title;
            TagArtist = tags.GstTags->Artist;
        }
        std::string time = DurationText(tags.GstTags->Duration);
        if (!time.empty() && time != TimeText) {
            TimeText = time;
            timeChanged = true;
        }
    }
    if (tags.Probed) {
        if (tags.Probed->Texts) {
            TagTitle = tags.Probed->Title;
            TagArtist = tags.Probed->Artist;
        }
        std::string time = DurationText(tags.Probed->Duration);
        if (!time.empty() && time != TimeText) {
            TimeText = time;
            timeChanged = true;
        }
        Chapters = std::move(tags.Probed->Chapters);
    }
    Id3 = std::move(tags.Id3);
    RiffInfo = std::move(tags.RiffInfo);
    if (!TagTitle.empty()) {
        Title = std::string(FileNamePart(FileName)) + " - " + ShownText(TagTitle);
        if (!TagArtist.empty())
            Title += " - " + ShownText(TagArtist);
        TTool::ReplaceChars(Title, "\r\n", " ");
    }
    if (Row && Owner && Owner->View()) {
        if (timeChanged)
            Owner->View()->SetRow(Row, Title, TimeText, this);
        else
            Owner->View()->SetRowCaption(Row, Title);
    }
}
