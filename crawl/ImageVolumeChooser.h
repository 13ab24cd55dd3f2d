#pragma once

#include "image/ImageVolume.h"

#include <QDialog>
#include <QList>

#include <vector>

class QDialogButtonBox;
class QListWidget;

// Asks which volumes of a disk image to crawl: one checkable line per volume (its name, role,
// file system, and whether it is encrypted), every one checked at first. OK needs at least one.
class ImageVolumeChooser : public QDialog
{
    Q_OBJECT

public:
    ImageVolumeChooser(const std::vector<ImageVolume>& volumes, QWidget* parent = nullptr);

    // The numbers of the checked volumes, in the image's order.
    QList<int> chosen() const;
    QListWidget* list() const { return m_list; }

private:
    QListWidget* m_list;
    QDialogButtonBox* m_buttons;
};
