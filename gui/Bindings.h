#pragma once
// Binds controls of the window model to Qt widgets, both ways: every change of a model control
// shows in its widget, and the user's actions on a widget reach the model control. The model must
// outlive the widgets. Each widget takes its control's name as its object name.
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTabWidget;
class QTreeWidget;
class QWidget;
class TButton;
class TCheckBox;
class TComboBox;
class TControl;
class TEdit;
class TImage;
class TLabel;
class TListView;
class TPanel;

// aCaptionLabel, where given, shows the control's caption in front of it (or above it).
void BindWindow(TControl& aModel, QWidget* aWindow);
void BindTab(TControl& aModel, QTabWidget* aTabs, int aIndex);
void BindButton(TButton& aModel, QAbstractButton* aWidget);
void BindCheckBox(TCheckBox& aModel, QCheckBox* aWidget);
void BindEdit(TEdit& aModel, QLineEdit* aWidget, QLabel* aCaptionLabel);
void BindComboBox(TComboBox& aModel, QComboBox* aWidget, QWidget* aCaptionLabel);
void BindLabel(TLabel& aModel, QLabel* aWidget);
void BindImage(TImage& aModel, QLabel* aWidget);
void BindListView(TListView& aModel, QTreeWidget* aWidget, QLabel* aCaptionLabel);
void BindPanel(TPanel& aModel, QWidget* aWidget);
