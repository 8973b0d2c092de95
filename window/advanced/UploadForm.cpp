#include "UploadForm.h"

#include "ZunFileDialog.h"
#include "ZunFormFit.h"
#include "ZunPositionDelegate.h"
#include "ZunStyle.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

UploadForm::UploadForm(const QString& filter, const QStringList& suffixes, const QString& directory, QWidget* parent)
    : QDialog(parent)
    , m_filter(filter)
    , m_suffixes(suffixes)
    , m_directory(directory)
{
    setObjectName(QStringLiteral("UploadForm"));
    ZunFormFit::install(this);
    setWindowTitle(tr("Upload Form"));

    label = new QLabel(tr("Please select a file and a position in the drop down list to upload to and click 'Upload'"), this);
    label->setObjectName(QStringLiteral("label"));
    label->setWordWrap(true);
    lineEditFilename = new QLineEdit(this);
    lineEditFilename->setObjectName(QStringLiteral("lineEditFilename"));
    bttnBrowse = new QPushButton(tr("Browse"), this);
    bttnBrowse->setObjectName(QStringLiteral("bttnBrowse"));
    bttnBrowse->setMinimumWidth(55);
    comboBox = new QComboBox(this);
    comboBox->setObjectName(QStringLiteral("comboBox"));
    comboBox->setMinimumSize(100, 20);
    ZunStyle::applyTo(comboBox, QStringLiteral("Plastique"));
    comboBox->setItemDelegate(new ZunPositionDelegate(comboBox));
    bttnUpload = new QPushButton(tr("Upload"), this);
    bttnUpload->setObjectName(QStringLiteral("bttnUpload"));
    bttnUpload->setEnabled(false);
    bttnCancel = new QPushButton(tr("Cancel"), this);
    bttnCancel->setObjectName(QStringLiteral("bttnCancel"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(lineEditFilename);
    fileRow->addWidget(bttnBrowse);
    layout->addLayout(fileRow);
    layout->addWidget(comboBox);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(bttnUpload);
    buttons->addWidget(bttnCancel);
    layout->addLayout(buttons);

    connect(bttnUpload, &QPushButton::clicked, this, &QDialog::accept);
    connect(bttnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &UploadForm::set_SelectedPosition);
    connect(lineEditFilename, &QLineEdit::textChanged, this, &UploadForm::on_FilenameChanged);
    connect(bttnBrowse, &QPushButton::clicked, this, &UploadForm::on_Browse);
}

void UploadForm::addPosition(const QString& text)
{
    comboBox->addItem(text);
}

void UploadForm::setModel(QAbstractItemModel* model)
{
    comboBox->setModel(model);
}

void UploadForm::hidePositionSelector()
{
    comboBox->hide();
}

void UploadForm::setLabelText(const QString& text)
{
    label->setText(text);
}

QString UploadForm::getFilename() const
{
    return lineEditFilename->text();
}

void UploadForm::set_SelectedPosition(int position)
{
    m_selectedPosition = position;
}

void UploadForm::on_FilenameChanged(const QString& name)
{
    const QFileInfo fi(name);
    bool ok = !name.isEmpty() && fi.exists() && fi.isFile();
    if (ok) {
        ok = false;
        for (const QString& s : qAsConst(m_suffixes))
            if (fi.suffix().compare(s, Qt::CaseInsensitive) == 0)
                ok = true;
    }
    bttnUpload->setEnabled(ok);
}

void UploadForm::on_Browse()
{
    const QString name = ZunFileDialog::openFile(this, tr("Open File"), m_directory, tr(m_filter.toUtf8().constData()),
                                                 nullptr, QFileDialog::DontUseNativeDialog);
    if (!name.isEmpty())
        lineEditFilename->setText(name);
}
