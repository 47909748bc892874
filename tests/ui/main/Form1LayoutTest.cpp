// The main window as it opens: controls, geometry, focus order, looks, artwork and start-up.
#include "Form1Fixture.h"

#include "ui/common/Twips.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTest>

namespace tarnwick {
namespace {

using testing::Form1Fixture;

class Form1Start : public Form1Fixture {
protected:
    void ShowActive() {
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    // The widget that a press of Tab moves the focus to.
    QWidget* AfterTab() {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        return QApplication::focusWidget();
    }
};

TEST_F(Form1Start, ResultFieldsAreEmptyAndDisabled) {
    for (QLineEdit* field : ResultFields()) {
        EXPECT_TRUE(field->text().isEmpty()) << field->objectName().toStdString();
        EXPECT_FALSE(field->isEnabled()) << field->objectName().toStdString();
    }
    EXPECT_TRUE(form->Text1->text().isEmpty());
    EXPECT_TRUE(form->Box->toPlainText().isEmpty());
}

TEST_F(Form1Start, LoadShowsTheLocalAddressOnce) {
    EXPECT_EQ(form->Text8->text(), QStringLiteral("10.1.2.3"));
    EXPECT_EQ(localAddress.reads, 1);
}

TEST_F(Form1Start, ServerListHoldsOneSelectedEntryWithABlankEachSide) {
    ShowActive();
    ASSERT_EQ(form->ServerList->count(), 1);
    EXPECT_EQ(form->ServerList->currentIndex(), 0);
    const QString entry = form->ServerList->currentText();
    EXPECT_EQ(entry, form->ServerList->itemText(0));
    EXPECT_EQ(entry, QStringLiteral(" whois.arin.net "));
    EXPECT_TRUE(entry.startsWith(u' ') && entry.endsWith(u' '));
    EXPECT_FALSE(form->ServerList->isVisible());
    EXPECT_TRUE(form->ServerList->isEditable());
}

TEST_F(Form1Start, HiddenLabelIsNeverVisible) {
    ShowActive();
    EXPECT_FALSE(form->Input_Label->isVisible());
    EXPECT_EQ(form->Input_Label->text(), QStringLiteral("Hidden"));
    form->Text1->setText(QStringLiteral("127.0.0.1"));
    form->Command2->click();
    EXPECT_FALSE(form->Input_Label->isVisible());
}

TEST_F(Form1Start, FocusStartsInTheAddressBox) {
    ShowActive();
    EXPECT_EQ(QApplication::focusWidget(), form->Text1);
}

TEST_F(Form1Start, TabSkipsTheDisabledResultFields) {
    ShowActive();
    EXPECT_EQ(AfterTab(), form->HelpBut);
    EXPECT_EQ(AfterTab(), form->Command2);
    EXPECT_EQ(AfterTab(), form->Text8);
    EXPECT_EQ(AfterTab(), form->Button2);
    EXPECT_EQ(AfterTab(), form->Box);
    EXPECT_EQ(AfterTab(), form->Text1);
}

TEST_F(Form1Start, AfterAPingTheResultFieldsJoinTheTabOrder) {
    ShowActive();
    form->Command2->click();
    form->Text1->setFocus();
    for (QWidget* expected :
         std::initializer_list<QWidget*>{form->Text2, form->Text3, form->Text4, form->Text5,
                                         form->Text6, form->Text7, form->HelpBut})
        EXPECT_EQ(AfterTab(), expected) << expected->objectName().toStdString();
}

TEST_F(Form1Start, WindowIsFixedSizeTitledAndWithoutMinimizeOrMaximize) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tarnwick"));
    EXPECT_EQ(form->size(), QSize(TwipsToPixels(4830), TwipsToPixels(6045)));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
}

TEST_F(Form1Start, WindowIsCentredOnItsScreenWhenFirstShown) {
    ShowActive();
    const QPoint screenCentre = form->screen()->availableGeometry().center();
    const QPoint windowCentre = form->frameGeometry().center();
    EXPECT_LE((screenCentre - windowCentre).manhattanLength(), 2)
        << windowCentre.x() << "," << windowCentre.y();
}

struct TwipsPlacement {
    const char* name;
    int left, top, width, height;
};

class Form1Geometry : public Form1Fixture, public ::testing::WithParamInterface<TwipsPlacement> {};

TEST_P(Form1Geometry, ControlStandsAtItsDesignRectangle) {
    const TwipsPlacement& row = GetParam();
    auto* widget = form->findChild<QWidget*>(QLatin1String(row.name));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget(), form.get());
    EXPECT_EQ(widget->geometry(), QRect(TwipsToPixels(row.left), TwipsToPixels(row.top),
                                        TwipsToPixels(row.width), TwipsToPixels(row.height)));
}

INSTANTIATE_TEST_SUITE_P(Controls, Form1Geometry,
                         ::testing::Values(TwipsPlacement{"ServerList", 120, 0, 330, 330},
                                           TwipsPlacement{"IP", 720, 120, 2055, 255},
                                           TwipsPlacement{"Command2", 3240, 120, 1335, 375},
                                           TwipsPlacement{"Image1", 120, 480, 300, 300},
                                           TwipsPlacement{"Text1", 600, 480, 2295, 285},
                                           TwipsPlacement{"HelpBut", 3480, 600, 855, 375},
                                           TwipsPlacement{"Label8", 120, 960, 735, 255},
                                           TwipsPlacement{"Text8", 1200, 930, 1335, 285},
                                           TwipsPlacement{"Label1", 120, 1320, 615, 255},
                                           TwipsPlacement{"Text2", 1200, 1320, 1335, 285},
                                           TwipsPlacement{"Label2", 120, 1680, 855, 255},
                                           TwipsPlacement{"Text3", 1200, 1680, 1335, 285},
                                           TwipsPlacement{"Label3", 120, 2040, 1095, 255},
                                           TwipsPlacement{"Text4", 1200, 2040, 1335, 285},
                                           TwipsPlacement{"Label4", 120, 2400, 495, 255},
                                           TwipsPlacement{"Text5", 1200, 2400, 1335, 285},
                                           TwipsPlacement{"Label5", 120, 2760, 495, 255},
                                           TwipsPlacement{"Text6", 1200, 2760, 1335, 285},
                                           TwipsPlacement{"Label6", 120, 3120, 735, 255},
                                           TwipsPlacement{"Text7", 1200, 3120, 1335, 285},
                                           TwipsPlacement{"Image2", 2640, 1080, 2100, 2400},
                                           TwipsPlacement{"Button2", 120, 3480, 1335, 375},
                                           TwipsPlacement{"Input_Label", 1680, 3600, 615, 255},
                                           TwipsPlacement{"Box", 105, 3975, 4605, 1995}),
                         [](const ::testing::TestParamInfo<TwipsPlacement>& info) {
                             return info.param.name;
                         });

struct Caption {
    const char* label;
    const char* text;
    const char* field; // the field on the label's row, or "" for none
    const char* accessibleName;
};

class Form1Captions : public Form1Fixture, public ::testing::WithParamInterface<Caption> {};

TEST_P(Form1Captions, LabelReadsItsCaptionFitsItAndNamesItsField) {
    const Caption& row = GetParam();
    auto* label = form->findChild<QLabel*>(QLatin1String(row.label));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QLatin1String(row.text));
    EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width())
        << "caption clipped";
    if (*row.field == '\0')
        return;
    auto* field = form->findChild<QLineEdit*>(QLatin1String(row.field));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(label->buddy(), field);
    EXPECT_EQ(field->accessibleName(), QLatin1String(row.accessibleName));
}

INSTANTIATE_TEST_SUITE_P(
    Labels, Form1Captions,
    ::testing::Values(Caption{"IP", "Enter IP Address", "Text1", "Enter IP Address"},
                      Caption{"Label8", "Your IP:", "Text8", "Your IP"},
                      Caption{"Label1", "Status:", "Text2", "Status"},
                      Caption{"Label2", "Lag Time:", "Text3", "Lag Time"},
                      Caption{"Label3", "Port Address:", "Text4", "Port Address"},
                      Caption{"Label4", "Size:", "Text5", "Size"},
                      Caption{"Label5", "Echo:", "Text6", "Echo"},
                      Caption{"Label6", "Pointer:", "Text7", "Pointer"},
                      Caption{"Input_Label", "Hidden", "", ""}),
    [](const ::testing::TestParamInfo<Caption>& info) { return info.param.label; });

TEST_F(Form1Start, EveryControlHasAnAccessibleName) {
    const auto children = form->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), 24);
    for (const QWidget* child : children) {
        EXPECT_FALSE(child->objectName().isEmpty());
        EXPECT_FALSE(child->accessibleName().isEmpty()) << child->objectName().toStdString();
    }
    EXPECT_EQ(form->Command2->accessibleName(), QStringLiteral("Ping"));
    EXPECT_EQ(form->HelpBut->accessibleName(), QStringLiteral("About"));
    EXPECT_EQ(form->Button2->accessibleName(), QStringLiteral("Trace IP"));
}

TEST_F(Form1Start, ColoursFollowTheDesign) {
    const QColor orange(0xD2, 0x6A, 0x02);
    EXPECT_EQ(form->palette().color(QPalette::Window), orange);
    EXPECT_TRUE(form->autoFillBackground());
    for (const QLabel* opaque : {form->Label8, form->Input_Label}) {
        EXPECT_TRUE(opaque->autoFillBackground());
        EXPECT_EQ(opaque->palette().color(QPalette::Window), orange);
    }
    for (const QLabel* transparent : {form->IP, form->Label1, form->Label2, form->Label3,
                                      form->Label4, form->Label5, form->Label6})
        EXPECT_FALSE(transparent->autoFillBackground()) << transparent->objectName().toStdString();
    EXPECT_EQ(form->ServerList->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(form->ServerList->palette().color(QPalette::Text), QColor(Qt::black));
}

TEST_F(Form1Start, FontsFollowTheDesignAndResolveToARealSans) {
    EXPECT_DOUBLE_EQ(form->IP->font().pointSizeF(), 9.75);
    EXPECT_FALSE(form->IP->font().bold());
    EXPECT_TRUE(form->IP->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(form->IP->font().families().value(0), QStringLiteral("MS Sans Serif"));
    EXPECT_DOUBLE_EQ(form->ServerList->font().pointSizeF(), 8.25);
    EXPECT_TRUE(form->ServerList->font().bold());
    EXPECT_EQ(form->ServerList->font().families().value(0), QStringLiteral("Arial"));
    EXPECT_DOUBLE_EQ(form->Label1->font().pointSizeF(), 8.25);
    for (const QWidget* widget : std::initializer_list<const QWidget*>{
             form->IP, form->Label1, form->ServerList, form->Text1}) {
        const QFontInfo resolved(widget->font());
        EXPECT_FALSE(resolved.family().isEmpty());
        EXPECT_FALSE(resolved.fixedPitch()) << resolved.family().toStdString();
    }
}

TEST_F(Form1Start, ButtonsAndPicturesCarryTheirArtwork) {
    EXPECT_TRUE(form->Command2->text().isEmpty());
    EXPECT_TRUE(form->HelpBut->text().isEmpty());
    EXPECT_EQ(form->Button2->text(), QStringLiteral("Trace IP"));
    EXPECT_EQ(form->Command2->iconSize(), QSize(79, 23));
    EXPECT_FALSE(form->Command2->icon().isNull());
    EXPECT_EQ(form->HelpBut->iconSize(), QSize(19, 21));
    EXPECT_FALSE(form->HelpBut->icon().isNull());
    EXPECT_EQ(form->Image1->pixmap().size(), QSize(20, 20));
    EXPECT_EQ(form->Image2->pixmap().size(), QSize(140, 160));
    const QList<QSize> iconSizes = form->windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(16, 16)));
    EXPECT_TRUE(iconSizes.contains(QSize(32, 32)));
}

TEST_F(Form1Start, BothPictureButtonsCarryTheSameCreditToolTip) {
    const QString tip = form->Command2->toolTip();
    EXPECT_EQ(tip, form->HelpBut->toolTip());
    EXPECT_TRUE(tip.startsWith(QStringLiteral("About ")));
    EXPECT_TRUE(tip.endsWith(u'.'));
    EXPECT_FALSE(tip.contains(u'\n'));
}

struct Artwork {
    const char* name;
    const char* resource;
    int width, height, colours;
};

class ArtworkFile : public ::testing::TestWithParam<Artwork> {};

TEST_P(ArtworkFile, HasItsDesignSizeAndColourDepth) {
    const Artwork& row = GetParam();
    QFile file(QLatin1String(row.resource));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_GE(bytes.size(), 13);
    EXPECT_TRUE(bytes.startsWith("GIF8"));
    const auto packed = static_cast<quint8>(bytes[10]);
    ASSERT_TRUE(packed & 0x80) << "no global colour table";
    EXPECT_LE(2 << (packed & 0x07), row.colours) << "colour table too large";

    const QImage image = QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(row.width, row.height));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    EXPECT_LE(colours.size(), row.colours);
    EXPECT_GT(colours.size(), 2) << "a blank picture";
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, ArtworkFile,
    ::testing::Values(Artwork{"PingButton", ":/artwork/ping-button.gif", 79, 23, 32},
                      Artwork{"HelpButton", ":/artwork/help-button.gif", 19, 21, 4},
                      Artwork{"Image1", ":/artwork/address-marker.gif", 20, 20, 8},
                      Artwork{"Image2", ":/artwork/two-computers.gif", 140, 160, 128}),
    [](const ::testing::TestParamInfo<Artwork>& info) { return info.param.name; });

TEST(WindowIcon, HoldsA32And16PixelImageOf16ColoursEach) {
    QFile file(QStringLiteral(":/artwork/tarnwick.ico"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_GE(bytes.size(), 6 + 2 * 16);
    auto word = [&bytes](int offset) {
        return static_cast<quint8>(bytes[offset]) | static_cast<quint8>(bytes[offset + 1]) << 8;
    };
    EXPECT_EQ(word(2), 1); // icon, not cursor
    ASSERT_EQ(word(4), 2);
    QList<int> widths;
    for (int entry = 0; entry < 2; ++entry) {
        const int at = 6 + 16 * entry;
        widths.append(static_cast<quint8>(bytes[at]));
        EXPECT_EQ(static_cast<quint8>(bytes[at + 1]), widths.back()); // square
        EXPECT_EQ(static_cast<quint8>(bytes[at + 2]), 16);            // palette entries
        EXPECT_EQ(word(at + 6), 4);                                   // bits per pixel
    }
    EXPECT_EQ(widths, (QList<int>{32, 16}));
}

} // namespace
} // namespace tarnwick
