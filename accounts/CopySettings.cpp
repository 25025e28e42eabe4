#include "accounts/CopySettings.h"

#include "store/ChangeUnit.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Messages.h"
#include "support/Text.h"

#include <QRegularExpression>

namespace accounts {

namespace {

const QString kReturnAddress = QStringLiteral("ReturnAddress");

using K = CopyKind;

QList<CopyField> fields(std::initializer_list<std::pair<const char*, CopyKind>> list)
{
    QList<CopyField> result;
    for (const auto& [name, kind] : list)
        result.append({QString::fromLatin1(name), kind});
    return result;
}

QList<CopyGroup> makeGroups()
{
    auto caption = [](const char* text) { return support::uiText(QString::fromLatin1(text)); };
    return {
        {caption("Phone settings"),
         fields({{"comport", K::Integer},        {"dialmethod", K::Integer},    {"dialspeed", K::Integer},
                 {"Carrier1Name", K::Text},      {"Carrier1Prefix", K::Text},   {"Carrier1Suffix", K::Text},
                 {"Carrier2Name", K::Text},      {"Carrier2Prefix", K::Text},   {"Carrier2Suffix", K::Text},
                 {"Carrier3Name", K::Text},      {"Carrier3Prefix", K::Text},   {"Carrier3Suffix", K::Text},
                 {"Carrier4Name", K::Text},      {"Carrier4Prefix", K::Text},   {"Carrier4Suffix", K::Text},
                 {"Carrier5Name", K::Text},      {"Carrier5Prefix", K::Text},   {"Carrier5Suffix", K::Text},
                 {"Intndefault", K::Integer},    {"LDdefault", K::Integer},     {"LocalDefault", K::Integer}})},
        {caption("Data entry settings"),
         fields({{"AutoNameCap", K::Boolean},   {"AutoCompanyCap", K::Boolean}, {"AutoAddressCap", K::Boolean},
                 {"AutoCityCap", K::Boolean},   {"AutoStateCap", K::Boolean},   {"AutoCountryCap", K::Boolean},
                 {"AutoTitleCap", K::Boolean},  {"AutoZipCap", K::Boolean},     {"PromptForCopy", K::Boolean},
                 {"UseAddDefaults", K::Boolean}, {"DefCompany", K::Text},       {"DefAddress1", K::Text},
                 {"DefAddress2", K::Text},      {"DefCity", K::Text},           {"DefState", K::Text},
                 {"DefZip", K::Text},           {"DefCountry", K::Text},        {"DefTitle", K::Text},
                 {"UseEnter", K::Boolean}})},
        {caption("Word Processing settings"), fields({{"WordProc", K::Integer}, {"WPPath", K::Text}})},
        {caption("Envelope defaults"),
         fields({{"EnvelopeSize", K::Integer}, {"EnvelopeOrient", K::Integer}, {"EnvFontName", K::Text},
                 {"EnvFontSize", K::Integer}, {"EnvFontColor", K::Integer}, {"EnvFontStyle", K::Integer}})},
        {caption("Report font defaults"),
         fields({{"RepFontName", K::Text}, {"RepFontSize", K::Integer}, {"RepFontStyle", K::Integer},
                 {"RepFontColor", K::Integer}})},
        {caption("Alarm/duration defaults"),
         fields({{"AlarmCall", K::Integer},    {"AlarmMeeting", K::Integer},    {"AlarmTodo", K::Integer},
                 {"DurationCall", K::Integer}, {"DurationMeeting", K::Integer}, {"DurationTodo", K::Integer},
                 {"AlarmEnabled", K::Boolean}, {"AlarmRepeat", K::Boolean},     {"AlarmWav", K::Text}})},
        {caption("WinFax settings"),
         fields({{"WinFaxDateDefault", K::DateTime}, {"WinFaxTimeDefault", K::DateTime}, {"WinFaxPath", K::Text},
                 {"WinFaxPrinter", K::Text},         {"WinFaxUseAttach", K::Boolean},    {"WinFaxAttach", K::Text},
                 {"WinFaxUseCover", K::Boolean},     {"WinFaxCover", K::Text},           {"WinFaxKey", K::Text},
                 {"WinFaxBilling", K::Text},         {"WinFaxCoverMemo", K::Text},       {"WinFaxResolution", K::Text},
                 {"WinFaxShowPreview", K::Boolean}})},
        {caption("CoStar Printer settings"),
         fields({{"CoStarProgram", K::Text}, {"CoStarPathname", K::Text}, {"CoStarLabelFile", K::Text},
                 {"CoStarTemplateName", K::Text}, {"CoStarHide", K::Boolean}, {"CoStarHistory", K::Boolean}})},
        {caption("Email settings"),
         fields({{"EmailPopServer", K::Text},  {"EmailPopMailbox", K::Text},     {"EmailPopDialup", K::Text},
                 {"EmailPopLogfile", K::Text}, {"EmailPopAttachments", K::Text}, {"EmailPopDelete", K::Boolean},
                 {"EmailPopDetails", K::Boolean}, {"EmailMAPI", K::Boolean},     {"EmailSMTP", K::Text},
                 {"EmailName", K::Text},       {"EmailEncoding", K::Text},       {"EmailCharSet", K::Text}})},
        {caption("Duplicate checking settings"),
         fields({{"DupCheck", K::Boolean}, {"DupCompany", K::Boolean}, {"DupAddress", K::Boolean},
                 {"DupIgnoreNum", K::Boolean}, {"DupIgnorePunct", K::Boolean}, {"DupWhileEditing", K::Boolean}})},
    };
}

// Reads the field in kind, so that a blank compares as false, 0 or "".
QVariant readAs(const store::Field& field, CopyKind kind)
{
    switch (kind) {
    case CopyKind::Text:
        return field.asString();
    case CopyKind::Boolean:
        return field.asBoolean();
    case CopyKind::Integer:
        return field.asLargeInt();
    case CopyKind::DateTime:
        return field.asDateTime();
    }
    return QVariant();
}

void writeAs(store::Field& field, CopyKind kind, const QVariant& value)
{
    switch (kind) {
    case CopyKind::Text:
        field.setAsString(value.toString());
        break;
    case CopyKind::Boolean:
        field.setAsBoolean(value.toBool());
        break;
    case CopyKind::Integer:
        field.setAsInteger(value.toLongLong());
        break;
    case CopyKind::DateTime:
        field.setAsDateTime(value.toDouble());
        break;
    }
}

} // namespace

const QList<CopyGroup>& preferenceGroups()
{
    static const QList<CopyGroup> groups = makeGroups();
    return groups;
}

bool& copyInProgress()
{
    static bool inProgress = false;
    return inProgress;
}

bool xfer(store::Table& from, store::Table& to, const QString& fieldName, CopyKind kind)
{
    const QVariant value = readAs(from.fieldByName(fieldName), kind);
    store::Field& target = to.fieldByName(fieldName);
    if (readAs(target, kind) == value)
        return false;
    writeAs(target, kind, value);
    support::journalfield(to, fieldName, support::ActionField);
    return true;
}

void copyPermrow(store::Table& from, store::Table& to)
{
    for (int i = 0; i < to.fieldCount(); ++i) {
        store::Field& target = to.field(i);
        if (target.dataType() != store::FieldType::Boolean)
            continue;
        store::Field* source = from.findField(target.fieldName());
        if (!source)
            continue;
        if (target.asBoolean() == source->asBoolean())
            continue;
        target.setAsBoolean(source->asBoolean());
        support::journalfield(to, target.fieldName(), support::ActionField);
    }
}

void copyPermfields(const QString& fromWho, const QString& toWho)
{
    store::Table permFrom(catalogue::kAlias, catalogue::kPerm);
    store::Table permTo(catalogue::kAlias, catalogue::kPerm);
    store::Table databases(catalogue::kAlias, catalogue::kDatabase);
    permFrom.open();
    permTo.open();
    databases.open();
    store::Field& db = databases.fieldByName(catalogue::fDb);
    for (databases.first(); !databases.eof(); databases.next()) {
        const QString code = db.asString();
        if (!permFrom.findKey({code, fromWho}) || !permTo.findKey({code, toWho}))
            continue; // a database where either user has no row is passed over
        permTo.edit();
        try {
            // The field rows are journalled as the fields change, ahead of
            // the post: they go only with the row.
            store::ChangeUnit unit(permTo);
            copyPermrow(permFrom, permTo);
            permTo.post();
            unit.commit();
        } catch (...) {
            permTo.cancel(); // never leave half a row to be posted by the next move
            throw;
        }
    }
}

QString returnAddressText(const QString& text)
{
    if (text.isEmpty())
        return QString();
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = text.split(lineBreak);
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast(); // a final line break ends the last line; it starts no new one
    QString result;
    for (const QString& line : lines)
        result += line + QStringLiteral("\r\n");
    return result;
}

bool copygroups(store::Table& from, store::Table& to, const CopySelection& selection, const QString& returnAddress)
{
    bool selected = false;
    if (selection.permissionsSelected()) {
        copyPermfields(from.fieldByName(catalogue::fWho).asString(), to.fieldByName(catalogue::fWho).asString());
        selected = true;
    }
    to.edit();
    try {
        store::ChangeUnit unit(to);
        const QList<CopyGroup>& groups = preferenceGroups();
        for (int g = 0; g < groups.size(); ++g) {
            if (!selection.groupSelected(g))
                continue;
            if (g == kEnvelopeGroup)
                to.fieldByName(kReturnAddress).setAsString(returnAddressText(returnAddress));
            for (const CopyField& field : groups[g].fields)
                xfer(from, to, field.name, field.kind);
            selected = true;
        }
        to.post();
        unit.commit();
    } catch (...) {
        to.cancel(); // the row must not be posted half-copied by a later move
        throw;
    }
    return selected;
}

namespace {

// Sets the program's copy-in-progress guard for one copy and clears it on
// every path, errors included.
class CopyGuard {
public:
    CopyGuard() { copyInProgress() = true; }
    ~CopyGuard() { copyInProgress() = false; }
    CopyGuard(const CopyGuard&) = delete;
    CopyGuard& operator=(const CopyGuard&) = delete;
};

} // namespace

CopyOutcome copyUserSettings(store::Table& from, store::Table& to, const QString& fromWho, const QString& toWho,
                             const CopySelection& selection, const std::function<QString(const QString&)>& shown)
{
    CopyGuard guard;
    const QString notFound = support::uiText(QStringLiteral("Error ... could not locate user \"%1\""));
    if (!from.findKey({fromWho})) {
        support::showError(notFound.arg(fromWho));
        return CopyOutcome::UserMissing;
    }
    if (!to.findKey({toWho})) {
        support::showError(notFound.arg(toWho));
        return CopyOutcome::UserMissing;
    }
    const QString stored = from.fieldByName(kReturnAddress).asString();
    store::WriteBatch batch;
    const bool selected = copygroups(from, to, selection, shown ? shown(stored) : stored);
    batch.commit();
    return selected ? CopyOutcome::Copied : CopyOutcome::NothingSelected;
}

QString sameUserMessage()
{
    return support::uiText(QStringLiteral("You cannot copy settings from/to the same user."));
}

QString copiedMessage(const QString& fromWho, const QString& toWho)
{
    return support::uiText(QStringLiteral("Fields copied from user \"%1\" to \"%2\"")).arg(fromWho, toWho);
}

QString nothingCopiedMessage()
{
    return support::uiText(QStringLiteral("Nothing copied"));
}

} // namespace accounts
