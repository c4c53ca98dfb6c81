#include "CheckEntry.h"

#include "ContentCompare.h"
#include "config/CustomPublic.h"

#include <memory>
#include <string_view>
#include <vector>

namespace {

bool IsFile(const TFileFacts& facts) {
    return facts.FExists && !facts.FIsFolder;
}
bool IsFolder(const TFileFacts& facts) {
    return facts.FExists && facts.FIsFolder;
}

bool PassesTimeMode(const TCheckSettings& settings, const TFileFacts& target, const TFileFacts& source) {
    if (target.FSize != source.FSize &&
        EqualOnlyWithinTolerance(target.FModified, source.FModified, settings.FTimeTolerance)) {
        return true; // an edit within the clock's precision, whatever the time mode
    }
    switch (settings.FTimeMode) {
    case TimeModeTargetOlder:
        return CompareModifiedTimes(target.FModified, source.FModified, settings.FTimeTolerance) < 0;
    case TimeModeTargetNewer:
        return CompareModifiedTimes(target.FModified, source.FModified, settings.FTimeTolerance) > 0;
    case TimeModeDifferent:
        return CompareModifiedTimes(target.FModified, source.FModified, settings.FTimeTolerance) != 0;
    default:
        return true;
    }
}

// The size of a file by opening it for reading: 0, or the errno of the failure.
int ReadSizeByOpening(TVolume& volume, std::string_view relative, std::int64_t& size) {
    int error = 0;
    bool notRegular = false;
    const std::unique_ptr<TReadableFile> file = volume.OpenFile(relative, error, notRegular);
    if (file) {
        size = file->Facts().FSize;
    }
    return error;
}

// With the equal-size rule the sizes are read by opening both files, so that
// a file that cannot be read is an error here rather than a failed update.
void ReadSizesByOpening(std::string_view relative, const TCheckSettings& settings, TPairFacts& facts) {
    if (const int error = ReadSizeByOpening(*settings.FSourceVolume, relative, facts.FSource.FSize);
        error != 0) {
        facts.FError = error;
        facts.FErrorOnSource = true;
    } else if (const int targetError =
                   ReadSizeByOpening(*settings.FTargetVolume, relative, facts.FCounterpart.FSize);
               targetError != 0) {
        facts.FError = targetError;
    }
}

bool PassesThreshold(const TFileFacts& source, const TCheckSettings& settings) {
    return !(settings.FCheckEditTime && source.FModified < settings.FThreshold);
}

// The facts of one side: links followed, or (with links listed or skipped) not.
TFileFacts SideFacts(TVolume& volume, std::string_view relative, bool linkAware, bool& isLink) {
    TEntryFacts facts = volume.Facts(relative, !linkAware);
    isLink = linkAware && facts.FIsLink;
    return static_cast<TFileFacts&>(facts);
}

// Where a link on either side puts an entry. Links = skip leaves a link in the
// target alone, and what lies behind it; links = link replaces it with the
// source's entry. A source link is new where the target has nothing, and
// updated where the target holds another text or something else.
TSourceVerdict ClassifyLinked(bool isFolder, const TPairFacts& facts, const TCheckSettings& settings) {
    if (settings.FLinks == TLinkMode::Skip) {
        return TSourceVerdict::Skip;
    }
    if (!isFolder && !PassesThreshold(facts.FSource, settings)) {
        return TSourceVerdict::Skip;
    }
    if (facts.FLinks.FBehindLink || !facts.FLinks.FSourceIsLink) {
        return TSourceVerdict::New;
    }
    if (!facts.FCounterpart.FExists) {
        return TSourceVerdict::New;
    }
    return facts.FLinks.FTargetIsLink && facts.FLinks.FSameText ? TSourceVerdict::Skip
                                                                : TSourceVerdict::Update;
}

} // namespace

TPairFacts ReadEntryFacts(std::string_view relative, const TCheckSettings& settings) {
    TPairFacts facts;
    TVolume& source = *settings.FSourceVolume;
    TVolume& target = *settings.FTargetVolume;
    // With links listed or skipped, no link is followed on either side.
    const bool linkAware = settings.FLinks != TLinkMode::File;
    const auto readCounterpart = [&] {
        if (linkAware && !NoLinkOnTheWay(target, relative)) {
            facts.FLinks.FBehindLink = true;
            return;
        }
        facts.FCounterpart = SideFacts(target, relative, linkAware, facts.FLinks.FTargetIsLink);
        facts.FError = facts.FCounterpart.FError;
    };
    if (!relative.empty() && relative.back() == PathDelim) {
        readCounterpart();
        return facts;
    }
    facts.FSource = SideFacts(source, relative, linkAware, facts.FLinks.FSourceIsLink);
    if (facts.FSource.FError != 0) {
        facts.FError = facts.FSource.FError;
        facts.FErrorOnSource = true;
        return facts;
    }
    // A source gone since the walk, or older than the threshold, needs no counterpart.
    if (IsFile(facts.FSource) && PassesThreshold(facts.FSource, settings)) {
        readCounterpart();
        if (facts.FError != 0 || facts.FLinks.FBehindLink) {
            return facts;
        }
        if (facts.FLinks.FSourceIsLink || facts.FLinks.FTargetIsLink) {
            std::string sourceText, targetText;
            if (facts.FLinks.FSourceIsLink && facts.FLinks.FTargetIsLink) {
                if (const int error = source.ReadLink(relative, sourceText); error != 0) {
                    facts.FError = error;
                    facts.FErrorOnSource = true;
                } else if (const int targetError = target.ReadLink(relative, targetText); targetError != 0) {
                    facts.FError = targetError;
                }
                facts.FLinks.FSameText = facts.FError == 0 && sourceText == targetText;
            }
            return facts;
        }
        if (settings.FCheckSize && !settings.FCompareContent && IsFile(facts.FCounterpart) &&
            PassesTimeMode(settings, facts.FCounterpart, facts.FSource)) {
            ReadSizesByOpening(relative, settings, facts);
        }
    }
    return facts;
}

TSourceVerdict Classify(bool isFolder, const TPairFacts& facts, const TCheckSettings& settings) {
    if (facts.FError != 0) {
        return TSourceVerdict::Error;
    }
    if (facts.FLinks.FSourceIsLink || facts.FLinks.FTargetIsLink || facts.FLinks.FBehindLink) {
        return ClassifyLinked(isFolder, facts, settings);
    }
    if (isFolder) {
        return IsFolder(facts.FCounterpart) ? TSourceVerdict::Skip : TSourceVerdict::New;
    }
    if (!IsFile(facts.FSource)) {
        return TSourceVerdict::Skip; // gone since the walk
    }
    if (settings.FCheckEditTime && facts.FSource.FModified < settings.FThreshold) {
        return TSourceVerdict::Skip;
    }
    if (!IsFile(facts.FCounterpart)) {
        return TSourceVerdict::New;
    }
    if (settings.FCompareContent) {
        return facts.FCounterpart.FSize != facts.FSource.FSize || facts.FContentDiffers
                   ? TSourceVerdict::Update
                   : TSourceVerdict::Skip;
    }
    if (!PassesTimeMode(settings, facts.FCounterpart, facts.FSource)) {
        return TSourceVerdict::Skip;
    }
    if (settings.FCheckSize && facts.FCounterpart.FSize != facts.FSource.FSize) {
        return TSourceVerdict::Skip;
    }
    return TSourceVerdict::Update;
}

// The content comparison: pairs of existing files whose sizes agree are read
// and compared on several threads; every other entry is decided without it.
bool CompareCandidateContents(const TStringList& sourceIndex, std::size_t begin,
                              std::vector<TPairFacts>& facts, const TCheckSettings& settings,
                              const TStopTest& stop) {
    std::vector<std::size_t> candidates; // indexes into facts; entry begin + k
    for (std::size_t i = 0; i < facts.size(); ++i) {
        const TPairFacts& f = facts[i];
        if (f.FError == 0 && !f.FLinks.FSourceIsLink && !f.FLinks.FTargetIsLink && !f.FLinks.FBehindLink &&
            !TFmCustomPublic::IsFolderEntry(sourceIndex[begin + i]) && IsFile(f.FSource) &&
            IsFile(f.FCounterpart) && PassesThreshold(f.FSource, settings) &&
            f.FSource.FSize == f.FCounterpart.FSize) {
            candidates.push_back(i);
        }
    }
    std::vector<TContentResult> results;
    const auto pathOf = [&](std::size_t k, std::string& relative) {
        relative = sourceIndex[begin + candidates[k]];
    };
    if (!CompareFilePairs(*settings.FSourceVolume, *settings.FTargetVolume, candidates.size(), pathOf,
                          results, stop)) {
        return false;
    }
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        TPairFacts& f = facts[candidates[k]];
        f.FContentDiffers = results[k].FDiffers;
        f.FError = results[k].FError;
        f.FErrorOnSource = results[k].FErrorOnSource;
    }
    return true;
}

// Whether the source counterpart of a target entry (relative below both
// roots) is missing (or of the other kind); error gets the errno of a look-up
// that could not tell.
bool CounterpartIsMissing(std::string_view relative, const TCheckSettings& settings, int& error) {
    if (settings.FLinks == TLinkMode::Link) {
        return LinkAwareCounterpartIsMissing(*settings.FSourceVolume, *settings.FTargetVolume, relative,
                                             error);
    }
    const TEntryFacts counterpart = settings.FSourceVolume->Facts(relative, true);
    if (!counterpart.FExists) {
        error = counterpart.FError;
        return error == 0;
    }
    error = 0;
    const bool folderEntry = !relative.empty() && relative.back() == PathDelim;
    return folderEntry != counterpart.FIsFolder;
}

TSourceVerdict ClassifySourceEntry(const std::string& entry, const TCheckSettings& givenSettings) {
    const TCheckSettings settings = WithVolumes(givenSettings);
    const std::string_view relative = std::string_view(entry).substr(settings.FSourceRoot.size());
    return Classify(TFmCustomPublic::IsFolderEntry(entry), ReadEntryFacts(relative, settings), settings);
}

bool IsSurplusTargetEntry(const std::string& entry, const TCheckSettings& givenSettings) {
    const TCheckSettings settings = WithVolumes(givenSettings);
    int error = 0;
    return CounterpartIsMissing(std::string_view(entry).substr(settings.FTargetRoot.size()), settings, error);
}
