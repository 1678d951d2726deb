// The main window's phone book button.
#include "frmkirrow.h"
#include "frmphonebook.h"
#include "phonebookfile.h"

void frmKirrow::Picture11_Click() {
    frmPhoneBook book(cmbPhoneNo, phonebook::phoneBookPath(), this);
    ShowModal(book);
}
