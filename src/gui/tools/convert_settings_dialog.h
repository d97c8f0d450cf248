#pragma once
// "Data Convert / Export Setting": the modal dialog over the values that
// steer a conversion. OK takes what the controls show; Cancel (the default
// button), Escape and the close box leave the values as they were.
#include <QDialog>

#include "window/string_table.h"
#include "conversion/convert_settings.h"

class QCheckBox;
class QLineEdit;

namespace lumora {

class ConvertSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // Control identifiers.
    static constexpr int kFileLineMax = 1037, kAlignErrorMax = 1038, kOnlyMatched = 1073, kNeedPV = 1067,
                         kNeedSN = 1068, kNeedDate = 1070, kNeedUnitTime = 1071, kTitleAlign = 1072,
                         kNeedSingleSensor = 1069, kNeedMs = 1074, kOk = 1052, kCancel = 1053;

    ConvertSettingsDialog(const ConvertSettings& values, Language lang, QWidget* parent = nullptr);

    // The values: as given until OK takes the controls' values.
    const ConvertSettings& Values() const { return values_; }

    QLineEdit* Edit(int id) const;
    QCheckBox* Check(int id) const;

public slots:
    void accept() override;

private:
    ConvertSettings values_;
};

// Runs the dialog modally over values; true after OK (values then hold what
// the controls showed), false after Cancel (values unchanged).
bool EditConvertSettings(QWidget* parent, ConvertSettings& values);

}  // namespace lumora
