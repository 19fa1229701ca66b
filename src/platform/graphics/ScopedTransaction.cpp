#include "ScopedTransaction.h"

#include "Transaction.h"

ScopedTransaction::ScopedTransaction()
{
    Transaction::begin();
}

ScopedTransaction::~ScopedTransaction()
{
    Transaction::commit();
}

void ScopedTransaction::setAnimationDuration(double seconds)
{
    Transaction::setAnimationDuration(seconds);
}

void ScopedTransaction::setDisableActions(bool disable)
{
    Transaction::setDisableActions(disable);
}
