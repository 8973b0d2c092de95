#pragma once

#include <QDialog>
#include <QStringList>

class QAbstractItemModel;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Chooses a file and, optionally, a target position for an upload. "Upload" is enabled
// only while the line edit names an existing regular file with an accepted suffix.
class UploadForm : public QDialog
{
    Q_OBJECT
public:
    UploadForm(const QString& filter, const QStringList& suffixes, const QString& directory, QWidget* parent = nullptr);

    void addPosition(const QString& text);
    void setModel(QAbstractItemModel* model);
    void hidePositionSelector();
    void setLabelText(const QString& text);
    int getSelectedPosition() const { return m_selectedPosition; }
    QString getFilename() const;

    QLabel* label;
    QLineEdit* lineEditFilename;
    QPushButton* bttnBrowse;
    QComboBox* comboBox;
    QPushButton* bttnUpload;
    QPushButton* bttnCancel;

public slots:
    void set_SelectedPosition(int position);
    void on_FilenameChanged(const QString& name);
    void on_Browse();

private:
    QString m_filter;
    QStringList m_suffixes;
    QString m_directory;
    int m_selectedPosition = -1;
};
