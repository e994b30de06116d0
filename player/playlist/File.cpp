#include "player/playlist/File.h"

#include "player/config/Tool.h"
#include "player/mediainfo/TagText.h"
#include "player/playlist/Filelist.h"

std::string_view FileNamePart(std::string_view path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

TFile::TFile(std::string fileName) : FileName(std::move(fileName)), Title(FileNamePart(FileName)) {}

TFile::Tags TFile::ReadTags(const std::string& fileName) {
    return {std::make_unique<TID3TAG>(fileName), std::make_unique<TRIFFINFO>(fileName)};
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
    Id3 = std::move(tags.Id3);
    RiffInfo = std::move(tags.RiffInfo);
    if (!TagTitle.empty()) {
        Title = std::string(FileNamePart(FileName)) + " - " + ShownText(TagTitle);
        if (!TagArtist.empty())
            Title += " - " + ShownText(TagArtist);
        TTool::ReplaceChars(Title, "\r\n", " ");
    }
    if (Row && Owner && Owner->View())
        Owner->View()->SetRowCaption(Row, Title);
}
