! Reads one field per driver line, as gfortran reads it.
! Driver line: type (A1: R real, I integer, L logical), width (I4),
! format (A14), then the field between | marks.
program in_ref
  implicit none
  character(len=300) :: line
  character(len=200) :: buf
  character(len=14) :: fmt
  character(len=1) :: typ
  integer :: w, i, j, ios4, ios8, iosi
  real(4) :: x
  real(8) :: d
  integer :: n
  logical :: l
  do
    read(*, '(A)', iostat=ios4) line
    if (ios4 /= 0) exit
    read(line, '(A1,I4,A14)') typ, w, fmt
    i = index(line, '|')
    j = index(line, '|', back=.true.)
    buf = ' '
    if (j > i + 1) buf = line(i+1:j-1)
    select case (typ)
    case ('R')
      read(buf(1:w), fmt, iostat=ios4) x
      read(buf(1:w), fmt, iostat=ios8) d
      if (ios4 /= 0 .or. ios8 /= 0) then
        write(*, '(A,2I6)') 'ERROR', ios4, ios8
      else
        write(*, '(I0,1X,I0)') transfer(x, 0), transfer(d, 0_8)
      end if
    case ('I')
      read(buf(1:w), fmt, iostat=iosi) n
      if (iosi /= 0) then
        write(*, '(A)') 'ERROR'
      else
        write(*, '(I0)') n
      end if
    case ('L')
      read(buf(1:w), fmt, iostat=iosi) l
      if (iosi /= 0) then
        write(*, '(A)') 'ERROR'
      else
        write(*, '(L1)') l
      end if
    end select
  end do
end program
