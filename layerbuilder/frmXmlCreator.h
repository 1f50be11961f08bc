// The layer builder: collects up to 25 layers of up to 25 fields each and writes them
// into the open document (appended to an ApLayers element, or over one ApLayer) or as
// text to the clipboard. Which of the three it does is fixed before the form is shown:
// AddLayers, EditLayer, or neither for the clipboard.
#pragma once

#include "LayerRecords.h"
#include "treelark/dom.h"

#include <QWidget>

#include <array>
#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace treelark {

class frmXmlCreator : public QWidget {
    Q_OBJECT
public:
    // The form never changes the document on its own: Ok hands the change to this hook
    // as one step (named for the user), with the element it changes. The hook runs
    // `change` (which may throw DOMException or LayerFailure; let them through) and may
    // record it to be undone. Without a hook the change runs directly.
    using ApplyEdit = std::function<void(const QString& stepName, const DOMNode& target,
                                         const std::function<void()>& change)>;

    explicit frmXmlCreator(QWidget* parent = nullptr);
    ~frmXmlCreator() override;

    void setApplyEdit(ApplyEdit hook) { m_applyEdit = std::move(hook); }

    // Chosen between creating the form and showing it.
    void AddLayers(const DOMNode& XmlLayersNode);
    void EditLayer(const DOMNode& XmlLayerNode);

    // State the tests look at.
    int layerCount() const { return LayerCount; }
    int currentLayer() const { return CurrentLayer; }
    const LayerRecord& layer(int k) const { return Layers[std::size_t(k - 1)]; }
    const FieldSet& workingFields() const { return WorkingFields; }
    bool editMode() const { return EditMode; }

    // Controls, named as everywhere else in the program.
    QGroupBox* fraLayers = nullptr;
    QLabel* lblLayer = nullptr;
    QComboBox* cboLayers = nullptr;
    QLineEdit* txtLayerTagName = nullptr;
    QLineEdit* txtLayerName = nullptr;
    QLineEdit* txtLayerDesc = nullptr;
    QComboBox* cboLayerType = nullptr;
    QComboBox* cboFeatureType = nullptr;
    QComboBox* cboShapeType = nullptr;
    QLineEdit* txtSubtypeName = nullptr;
    QComboBox* cboHasZ = nullptr;
    QComboBox* cboHasM = nullptr;
    QPushButton* cmdAddLayer = nullptr;
    QPushButton* cmdRemoveLayer = nullptr;

    QGroupBox* fraFields = nullptr;
    QComboBox* cboFields = nullptr;
    QLineEdit* txtFieldTagName = nullptr;
    QLineEdit* txtFieldName = nullptr;
    QLineEdit* txtFieldDesc = nullptr;
    QComboBox* cboFieldType = nullptr;
    QLineEdit* txtFieldWidth = nullptr;
    QLineEdit* txtDecimals = nullptr;
    QComboBox* cboNull = nullptr;
    QLineEdit* txtDomainName = nullptr;
    QPushButton* cmdAddField = nullptr;
    QPushButton* cmdRemoveField = nullptr;

    QPushButton* cmdWrite = nullptr;
    QPushButton* cmdCancel = nullptr;

signals:
    // Raised by Ok (true when the layers were written) and Cancel (false), just before
    // the form closes itself. Closing the window by its frame raises nothing.
    void OperationCompleted(bool bCompleted);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // By keyboard alone: Escape is Cancel; Enter presses the focused button, or Ok.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // frmXmlCreator.cpp: controls and loading
    void buildControls();
    void fillValueLists();
    void setTabOrder();
    void Form_Load();
    void ResetLayerControls();
    void EnableLayerControls();
    void ResetFieldControls();
    void EnableFieldControls();
    void setLayerControlsEnabled(bool enabled);
    void setFieldControlsEnabled(bool enabled);
    void unload();

    // frmXmlCreator_records.cpp: records and the handlers that move them
    void SaveCurrentLayer();
    void SaveCurrentField();
    void ShowLayer(int k);
    void ShowField(int k);
    void cboLayers_Click(int index);
    void cboFields_Click(int index);
    void txtLayerTagName_Change(const QString& text);
    void txtFieldTagName_Change(const QString& text);
    void cmdAddLayer_Click();
    void cmdRemoveLayer_Click();
    void cmdAddField_Click();
    void cmdRemoveField_Click();
    bool txtFieldWidth_LostFocus();
    bool txtDecimals_LostFocus();

    // frmXmlCreator_write.cpp: the two ways out
    void cmdWrite_Click();
    void cmdCancel_Click();
    void writeToClipboard();
    void writeToDocument();

    LayerRecord& layerAt(int k) { return Layers[std::size_t(k - 1)]; }

    std::array<LayerRecord, kMaxLayers> Layers;
    qint16 LayerCount = 0;
    int CurrentLayer = 0;
    int CurrentField = 0;
    FieldSet WorkingFields;
    qint16 LayerSerial = 0;
    qint16 FieldSerial = 0;
    bool SaveOnSelect = true;
    DOMNode TargetNode;
    bool EditMode = false;

    bool m_loaded = false;
    LayerRecord m_asRead; // the edited layer as the untouched form holds it
    bool m_unreadable = false; // the layer to edit could not be read: nothing is written
    ApplyEdit m_applyEdit;
};

} // namespace treelark
