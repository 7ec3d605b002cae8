#include "Utils/QuickEditTextFied.hpp"
#include "Utils/RangedBlockingNumberFormatter.hpp"
#include "desktop/NSBeep.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/NSWindow.hpp"

#include <QApplication>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace velmora {
namespace {

class QuickEditTextFiedTest : public ::testing::Test {
protected:
    QuickEditTextFiedTest() {
        setBeepHandler([this] { ++beeps; });
        panel->setBecomesKeyOnlyIfNeeded(true);
        auto* content = new QWidget;
        auto* layout = new QVBoxLayout(content);
        field = new QuickEditTextFied;
        other = new QLineEdit;
        layout->addWidget(field);
        layout->addWidget(other);
        panel->setContentView(content);
        auto formatter = std::make_shared<RangedBlockingNumberFormatter>();
        formatter->minimum = 1;
        formatter->maximum = 1000;
        field->setFormatter(formatter);
        QObject::connect(field, &QLineEdit::editingFinished, [this] { ++commits; });
        panel->orderFront();
    }
    ~QuickEditTextFiedTest() override { setBeepHandler({}); }

    void edit(const QString& text) {
        field->setFocus(Qt::MouseFocusReason);
        QApplication::processEvents();
        field->setText(text);
        beeps = 0;
        commits = 0;
    }

    std::shared_ptr<NSPanel> panel = std::make_shared<NSPanel>();
    QuickEditTextFied* field;
    QLineEdit* other;
    int beeps = 0;
    int commits = 0;
};

TEST_F(QuickEditTextFiedTest, TakingTheFocusMakesThePanelKey) {
    ASSERT_FALSE(panel->isKeyWindow());
    edit("12");
    EXPECT_TRUE(panel->isKeyWindow());
    EXPECT_TRUE(field->hasFocus());
}

TEST_F(QuickEditTextFiedTest, ReturnOnEmptyTextBeepsAndKeepsEditing) {
    edit("");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(commits, 0);
    EXPECT_TRUE(field->hasFocus());

    edit("50");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(commits, 1);
    EXPECT_FALSE(field->hasFocus()); // a commit gives the focus up
}

TEST_F(QuickEditTextFiedTest, MovingTheFocusAwayFromEmptyTextComesBack) {
    edit("");
    other->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(commits, 0);
    EXPECT_TRUE(field->hasFocus());

    edit("7");
    other->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(beeps, 0);
    EXPECT_TRUE(other->hasFocus());
}

TEST_F(QuickEditTextFiedTest, EscapeGivesTheTextBackTellsNobodyAndTheKeysGoToTheMainWindow) {
    auto document = std::make_shared<NSWindow>();
    document->makeKeyAndOrderFront();
    field->setText("40");
    edit("999");
    ASSERT_TRUE(panel->isKeyWindow());
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(field->text(), "40");
    EXPECT_EQ(commits, 0);
    EXPECT_FALSE(field->hasFocus());
    EXPECT_TRUE(document->isKeyWindow());
    document->close();
}

TEST_F(QuickEditTextFiedTest, APressSelectsTheWholeText) {
    edit("250");
    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(2, field->height() / 2));
    EXPECT_EQ(field->selectedText(), "250");
}

TEST_F(QuickEditTextFiedTest, WithoutAFormatterAnyTextEnds) {
    field->setFormatter(nullptr);
    edit("");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(commits, 1);
}

} // namespace
} // namespace velmora
